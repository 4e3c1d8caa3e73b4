; A frame directive far beyond any data space, then pushes and frame accesses.
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
        RET
.ENDFUNC
.ENTRY
.END
