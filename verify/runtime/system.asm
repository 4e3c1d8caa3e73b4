; Runtime of the verification harness, in the compiler's dialect: start-up, the end of
; the program and the library routines that programs call and the optimiser knows by
; name. The lowering appends it to every program; a routine the program defines itself
; is left out, and so is everything before the first routine when the program has its
; own start.
.FILE system.pas
SYSTEM.Reset:
        LDI     R16,SYSTEM.RAMEND AND 0FFh
        OUT     SPL,R16
        LDI     R16,SYSTEM.RAMEND SHRB 8
        OUT     SPH,R16
        LDI     R28,SYSTEM.FRAMETOP AND 0FFh
        LDI     R29,SYSTEM.FRAMETOP SHRB 8
        CLR     R16
        CALL    SYSTEM.MAIN
SYSTEM.ENDPROG:
        CLI
        SLEEP
        RJMP    SYSTEM.ENDPROG

; An interrupt the program enables without a routine for it returns at once.
SYSTEM.NoInterrupt:
        RETI

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

; Busy wait of _ACCA rounds.
.FUNC SYSTEM.UDELAY
SYSTEM.UDELAY:
        TST     R17
        BREQ    SYSTEM.UDELAY.done
SYSTEM.UDELAY.loop:
        NOP
        DEC     R17
        BRNE    SYSTEM.UDELAY.loop
SYSTEM.UDELAY.done:
        RET
.ENDFUNC

; Register save and restore of the compiler's interrupt stubs. The save area is in the
; runtime's part of RAM, which the checker does not compare.
.FUNC SYSTEM.SaveAllRegs
SYSTEM.SaveAllRegs:
        STS     SYSTEM.SCRATCH+0,R0
        IN      R0,SREG
        STS     SYSTEM.SCRATCH+32,R0
        STS     SYSTEM.SCRATCH+1,R1
        STS     SYSTEM.SCRATCH+2,R2
        STS     SYSTEM.SCRATCH+3,R3
        STS     SYSTEM.SCRATCH+4,R4
        STS     SYSTEM.SCRATCH+5,R5
        STS     SYSTEM.SCRATCH+6,R6
        STS     SYSTEM.SCRATCH+7,R7
        STS     SYSTEM.SCRATCH+8,R8
        STS     SYSTEM.SCRATCH+9,R9
        STS     SYSTEM.SCRATCH+10,R10
        STS     SYSTEM.SCRATCH+11,R11
        STS     SYSTEM.SCRATCH+12,R12
        STS     SYSTEM.SCRATCH+13,R13
        STS     SYSTEM.SCRATCH+14,R14
        STS     SYSTEM.SCRATCH+15,R15
        STS     SYSTEM.SCRATCH+16,R16
        STS     SYSTEM.SCRATCH+17,R17
        STS     SYSTEM.SCRATCH+18,R18
        STS     SYSTEM.SCRATCH+19,R19
        STS     SYSTEM.SCRATCH+20,R20
        STS     SYSTEM.SCRATCH+21,R21
        STS     SYSTEM.SCRATCH+22,R22
        STS     SYSTEM.SCRATCH+23,R23
        STS     SYSTEM.SCRATCH+24,R24
        STS     SYSTEM.SCRATCH+25,R25
        STS     SYSTEM.SCRATCH+26,R26
        STS     SYSTEM.SCRATCH+27,R27
        STS     SYSTEM.SCRATCH+28,R28
        STS     SYSTEM.SCRATCH+29,R29
        STS     SYSTEM.SCRATCH+30,R30
        STS     SYSTEM.SCRATCH+31,R31
        LDS     R0,SYSTEM.SCRATCH+0
        RET
.ENDFUNC

.FUNC SYSTEM.RestoreAllRegs
SYSTEM.RestoreAllRegs:
        LDS     R0,SYSTEM.SCRATCH+32
        OUT     SREG,R0
        LDS     R0,SYSTEM.SCRATCH+0
        LDS     R1,SYSTEM.SCRATCH+1
        LDS     R2,SYSTEM.SCRATCH+2
        LDS     R3,SYSTEM.SCRATCH+3
        LDS     R4,SYSTEM.SCRATCH+4
        LDS     R5,SYSTEM.SCRATCH+5
        LDS     R6,SYSTEM.SCRATCH+6
        LDS     R7,SYSTEM.SCRATCH+7
        LDS     R8,SYSTEM.SCRATCH+8
        LDS     R9,SYSTEM.SCRATCH+9
        LDS     R10,SYSTEM.SCRATCH+10
        LDS     R11,SYSTEM.SCRATCH+11
        LDS     R12,SYSTEM.SCRATCH+12
        LDS     R13,SYSTEM.SCRATCH+13
        LDS     R14,SYSTEM.SCRATCH+14
        LDS     R15,SYSTEM.SCRATCH+15
        LDS     R16,SYSTEM.SCRATCH+16
        LDS     R17,SYSTEM.SCRATCH+17
        LDS     R18,SYSTEM.SCRATCH+18
        LDS     R19,SYSTEM.SCRATCH+19
        LDS     R20,SYSTEM.SCRATCH+20
        LDS     R21,SYSTEM.SCRATCH+21
        LDS     R22,SYSTEM.SCRATCH+22
        LDS     R23,SYSTEM.SCRATCH+23
        LDS     R24,SYSTEM.SCRATCH+24
        LDS     R25,SYSTEM.SCRATCH+25
        LDS     R26,SYSTEM.SCRATCH+26
        LDS     R27,SYSTEM.SCRATCH+27
        LDS     R28,SYSTEM.SCRATCH+28
        LDS     R29,SYSTEM.SCRATCH+29
        LDS     R30,SYSTEM.SCRATCH+30
        LDS     R31,SYSTEM.SCRATCH+31
        RET
.ENDFUNC
