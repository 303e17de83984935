"""An update server on 127.0.0.1 that can misbehave per file, and the real
curl installed behind the shim that lets Wine wait for it."""

import http.server
import os
import threading
import time


class FaultServer:
    """Serves `files` ({URL path: bytes}); `faults` ({URL path: fault}) makes
    a file ("slow", seconds) arrive in ten pieces over that many seconds, or
    ("cut", n) stop after its first n bytes and close the connection, with
    the whole length announced either way. `requests` lists (path, outcome)."""

    def __init__(self):
        self.files, self.faults, self.requests = {}, {}, []
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, fmt, *args):
                pass

            def do_GET(self):
                data = server.files.get(self.path)
                if data is None:
                    page = b"<html><body>404 Not Found</body></html>"
                    self.send_response(404)
                    self.send_header("Content-Length", str(len(page)))
                    self.end_headers()
                    self.wfile.write(page)
                    server.requests.append((self.path, "404"))
                    return
                kind, amount = server.faults.get(self.path, ("whole", None))
                self.send_response(200)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                if kind == "cut":
                    self.wfile.write(data[:amount])
                    self.close_connection = True
                elif kind == "slow":
                    step = -(-len(data) // 10)
                    for at in range(0, len(data), step):
                        self.wfile.write(data[at:at + step])
                        self.wfile.flush()
                        time.sleep(amount / 10)
                else:
                    self.wfile.write(data)
                server.requests.append((self.path, kind))

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.httpd.server_address[1]}/"
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def install_curl(prefix, case):
    """system\\curl.exe is the shim (tests/wine/tools/curl_shim.cpp), which
    starts the Linux curl beside it and waits for it in Wine's stead."""
    prefix.install(case.tool("curl_shim.exe"), "system\\curl.exe")
    os.symlink("/usr/bin/curl", prefix.file("system\\curl-linux.exe"))
