@echo off
rem Hand mail.tmp to your mail transfer program here, for example:
rem blat mail.tmp -server smtp.example.com
