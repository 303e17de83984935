// Event XML read with XmlLite, Windows' own pull reader: every node handed
// to the collector as it is read, nothing kept. xmllite.dll is loaded when
// first needed; MinGW-w64 has its header but no import library.
#include <windows.h>
// After windows.h, which they need.
#include <objidl.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <string>

#include "tools/events_xml.h"

namespace kalmora::report {

namespace {

using CreateReader = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

std::string Utf8(const wchar_t* s, UINT length) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

template <class T>
struct Released {
  T* p = nullptr;
  ~Released() {
    if (p) p->Release();
  }
};

}  // namespace

bool ParseEventStream(std::string_view xml, EventCollector& collect, std::string& problem) {
  static const auto create = reinterpret_cast<CreateReader>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"xmllite.dll"), "CreateXmlReader")));
  if (!create) {
    problem = "xmllite.dll cannot be loaded";
    return false;
  }
  Released<IStream> stream{SHCreateMemStream(reinterpret_cast<const BYTE*>(xml.data()), static_cast<UINT>(xml.size()))};
  Released<IXmlReader> reader;
  if (!stream.p || FAILED(create(__uuidof(IXmlReader), reinterpret_cast<void**>(&reader.p), nullptr)) ||
      FAILED(reader.p->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit)) ||
      FAILED(reader.p->SetInput(stream.p))) {
    problem = "the XML reader cannot be set up";
    return false;
  }
  XmlNodeType type;
  HRESULT hr;
  while ((hr = reader.p->Read(&type)) == S_OK) {
    const WCHAR* text = nullptr;
    UINT length = 0;
    if (type == XmlNodeType_Element) {
      UINT line = 0;
      reader.p->GetLocalName(&text, &length);
      reader.p->GetLineNumber(&line);
      const std::string name = Utf8(text, length);
      const bool empty = reader.p->IsEmptyElement();
      collect.Start(name, static_cast<int>(line));
      for (HRESULT a = reader.p->MoveToFirstAttribute(); a == S_OK; a = reader.p->MoveToNextAttribute()) {
        const WCHAR* value = nullptr;
        UINT value_length = 0;
        reader.p->GetLocalName(&text, &length);
        reader.p->GetValue(&value, &value_length);
        collect.Attribute(Utf8(text, length), Utf8(value, value_length));
      }
      if (empty) collect.End(name);
    } else if (type == XmlNodeType_Text || type == XmlNodeType_CDATA || type == XmlNodeType_Whitespace) {
      reader.p->GetValue(&text, &length);
      collect.Text(Utf8(text, length));
    } else if (type == XmlNodeType_EndElement) {
      reader.p->GetLocalName(&text, &length);
      collect.End(Utf8(text, length));
    }
  }
  if (hr == S_FALSE) return true;
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  problem = std::string("XmlLite error ") + code;
  return false;
}

}  // namespace kalmora::report
