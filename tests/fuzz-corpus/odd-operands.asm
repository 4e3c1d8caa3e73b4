        FOO       R16,R17
        BRXX      main
        LDI
        LDI       R32,5
        ST        -Z+,R16
        LDD       R16,Y+
        MOVW      R17,R19
        OUT       PORTB
        SBRC      R16
        CPSE      R16,R17,R18
        .DB
:
::
a: b:
