        CALL      main
.LOOP
.ENDBLOCK
.ENTRY
.ENTRYMAIN
main:
        RCALL     nowhere
        ICALL
        SBRS      R16,0
