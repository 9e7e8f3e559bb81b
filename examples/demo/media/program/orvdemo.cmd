@echo off
echo Orvane Demo 1.0 is installed in %~dp0
