; A frame directive far beyond any data space, then pushes and frame accesses;
; frame displacements no instruction encodes.
.ENTRYMAIN $
.FUNC main
.RETURNS 0
main:
        SBIW    R28,4
.FRAME 2147483647
        ST      -Y,R16
        SBIW    R28,2
        LDD     R16,Y+1
        STD     Y+2,R16
.FRAME -2147483648
        LD      R16,Y+
        RCALL   far
        RET
.ENDFUNC
.FUNC far
.RETURNS 0
far:
        SBIW    R28,2
        LDD     R16,Y+2147483648
        STD     Y+2147483647,R16
        LDD     R17,Y+99999999999
        ADIW    R28,2
        RET
.ENDFUNC
.ENTRY
.END
