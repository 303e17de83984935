@echo off
rem Kalmora sends each e-mail notice in one of two ways.
rem
rem 1. By SMTP, through curl (recommended): set SmtpServer in the [Messaging]
rem    section of kalmora.ini, e.g. SmtpServer=smtp://mail.example.com:587, and
rem    put curl.exe beside this file. Kalmora then sends every mail itself and
rem    logs whether the mail server took it; this file is not used. A login
rem    goes into smtp.cfg beside this file (a curl config file), e.g.
rem        user = "kalmora@example.com:the-password"
rem    never into kalmora.ini.
rem
rem 2. By this batch file (SmtpServer empty): Kalmora writes the message,
rem    headers and body, to mail.tmp in its own folder (the working directory)
rem    and starts this file, waiting up to 60 seconds for it to end. Hand
rem    mail.tmp to your mail program here, and end with exit /b 0 only when the
rem    mail went out: the exit status is what Kalmora logs. mail.tmp holds a
rem    Bcc: line when EmailUseBcc is on; your program must not pass it on.
rem    For example:
rem        yourmailer --server smtp.example.com --file mail.tmp || exit /b 1
rem        exit /b 0
rem
rem As it stands, this file sends nothing and says so.
exit /b 1
