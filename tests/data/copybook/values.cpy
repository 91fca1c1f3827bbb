      * every number form and edited picture, printed exactly: tests/data/copybook.txt
       01 R.
           05 ZV    PIC S9(3)V99.
           05 PV    PIC S9(5)V99 COMP-3.
           05 PP    PIC 9(3)PP.
           05 LP    PIC PPP99.
           05 SL    PIC S9(3) SIGN LEADING.
           05 SLS   PIC S9(3)V9 SIGN LEADING SEPARATE.
           05 STS   PIC S9(3) SIGN TRAILING SEPARATE.
           05 ZIP   PIC 9(7).
           05 PCODE PIC 9(5) COMP-3.
           05 BIG   PIC S9(18).
           05 ED1   PIC Z,ZZ9.99.
           05 ED2   PIC +9(4).
           05 ED3   PIC 9(3).9(2).
           05 ED4   PIC ZZ9CR.
           05 ED5   PIC 99/99/99.
           05 ED6   PIC S9(3).99 SIGN LEADING SEPARATE.
           05 ED7   PIC $$9.
