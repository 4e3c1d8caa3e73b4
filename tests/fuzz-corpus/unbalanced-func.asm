.FUNC f
.FUNC g
f:
        LDI       R16,1
.ENDFUNC
.ENDFUNC
.ENDFUNC
g:
        RET
.FUNC
