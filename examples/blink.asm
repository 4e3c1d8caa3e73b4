; blink.pas, compiled for ATmega2560.
; Walks a bit across PORTB, fills a table through X, sums it through Z and
; tests the sum.
OPTIMISERREV            .EQU    0               ; stamped by the optimiser
OPTIMISERBUILD          .EQU    0               ; stamped by the optimiser
COMPILERREV             .EQU    1A4h
_iDataStart             .EQU    200h
_ACCB                   .EQU    10h             ; var data byte
_ACCCLO                 .EQU    18h             ; var data byte
_ACCCHI                 .EQU    19h             ; var data byte
_FRAMEPTR               .EQU    1Ch             ; var data word
_FPTRHI                 .EQU    1Dh             ; var data byte
DDRB                    .EQU    04h             ; var pdata byte
PORTB                   .EQU    05h             ; var pdata byte volatile
GPIOR0                  .EQU    1Eh             ; var pdata byte volatile
count                   .EQU    200h            ; var idata byte
pattern                 .EQU    201h            ; var idata word
total                   .EQU    203h            ; var idata word
flag                    .EQU    205h            ; var idata byte
table                   .EQU    206h            ; var idata byte
.FILE blink.pas
.OPTI VOLATILE_DFT

; function Shift(p: word; n: byte): word;
.FUNC Shift
.RETURNS 2
Shift:
.LINE 7
        LDD     R16,Y+1                 ; p
        LDD     R17,Y+2
        LDD     R18,Y+0                 ; n
.LINE 8
.LOOP
Shift.loop:
        TST     R18
        BREQ    Shift.done
        LSL     R16
        ROL     R17
        DEC     R18
        RJMP    Shift.loop
.ENDLOOP
Shift.done:
.LINE 9
        ADIW    R28,3                   ; release the parameters
        RET
.ENDFUNC

; procedure Fill;  for i := 0 to 7 do table[i] := i * 3 + 1;
.FUNC Fill
.RETURNS 0
Fill:
.LINE 13
        SBIW    R28,1                   ; local i
.FRAME 1
        LDI     R26,table AND 0FFh
        LDI     R27,table SHRB 8
        CLR     R16
        STD     Y+0,R16
.LINE 14
.LOOP
        MOVW    R30,R28
        ST      -Y,R31
        ST      -Y,R30
Fill.loop:
.LINE 15
        LD      R16,Z                   ; i, through the frame copy
        MOV     R17,R16
        LSL     R17
        ADD     R17,R16
        INC     R17
        ST      X+,R17
        INC     R16
        ST      Z,R16
        CPI     R16,8
        BRLO    Fill.loop
.ENDLOOP
.LINE 16
        ADIW    R28,3                   ; the frame copy and i
        RET
.ENDFUNC

; function Sum: word;  sums the table
.FUNC Sum
.RETURNS 2
Sum:
.LINE 20
        LDI     R30,table AND 0FFh
        LDI     R31,table SHRB 8
        CLR     R16
        CLR     R17
        CLR     R19
        LDI     R20,8
.LOOP
Sum.loop:
.LINE 21
        LD      R18,Z+
        ADD     R16,R18
        ADC     R17,R19
        DEC     R20
        BRNE    Sum.loop
.ENDLOOP
.LINE 22
        RET
.ENDFUNC

; begin ... end.
.ENTRYMAIN $
.FUNC main
.RETURNS 2
main:
.LINE 26
        SER     R16
        OUT     DDRB,R16
.LINE 27
        LDI     R16,1
        CLR     R17
        STS     pattern,R16
        STS     pattern+1,R17
.LINE 28
        LDI     R16,1
        STS     count,R16
.LOOP
main.loop:
.LINE 29
        LDS     R16,pattern
        OUT     PORTB,R16
.LINE 30
        LDS     R17,pattern+1
        ST      -Y,R17
        ST      -Y,R16
        LDI     R16,1
        ST      -Y,R16
        RCALL   Shift
        STS     pattern,R16
        STS     pattern+1,R17
.LINE 31
        LDS     R16,count
        INC     R16
        STS     count,R16
        CPI     R16,9
        BRLO    main.loop
.ENDLOOP
.LINE 32
        RCALL   Fill
.LINE 33
        RCALL   Sum
        STS     total+1,R17             ; high byte first
        STS     total,R16
.LINE 34
        LDS     R24,total
        OUT     GPIOR0,R24
.LINE 35
        LDS     R24,total               ; if total >= 90 then PORTB := $FF
        CPI     R24,90
        LDI     R16,0                   ; the condition as a boolean
        BRLO    main.below
        SER     R16
main.below:
        TST     R16
        BRNE    main.then
        RJMP    main.endif
main.then:
        SER     R16
        OUT     PORTB,R16
main.endif:
.LINE 36
        LDI     R26,table+2 AND 0FFh
        LDI     R27,table+2 SHRB 8
        LDI     _ACCA,2
        RCALL   SYSTEM.TestBit8
        STS     flag,_ACCA
.LINE 37
        LDS     R16,total
        LDS     R17,total+1
        RET
.ENDFUNC
; System library, linked by the compiler.
; Bit _ACCA of the byte at X: _ACCA becomes 255 when it is set, 0 when it is clear;
; _ACCB holds the byte, as the optimiser's inline form leaves it.
.FUNC SYSTEM.TestBit8
SYSTEM.TestBit8:
        PUSH    R18
        LD      R16,X
        MOV     R18,R16
SYSTEM.TestBit8.shift:
        TST     R17
        BREQ    SYSTEM.TestBit8.test
        LSR     R18
        DEC     R17
        RJMP    SYSTEM.TestBit8.shift
SYSTEM.TestBit8.test:
        SER     R17
        SBRS    R18,0
        CLR     R17
        POP     R18
        RET
.ENDFUNC
.ENTRY
.END
