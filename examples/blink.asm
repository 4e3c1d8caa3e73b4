; Korvid example program
.EQU OPTIMISERREV = 0000h
.EQU COMPILERREV = 0190h
.FILE blink.pas
.FUNC main
main:
.LINE 3
                        LDI       R16,5
                        RET
.ENDFUNC
