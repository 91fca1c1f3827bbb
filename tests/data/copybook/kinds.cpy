      * Records whose code field the --kind-at checks refuse, each in
      * its own way.
       01  H.
           05  T               PIC X.
           05  NAME            PIC X(5).
           05  P               PIC S9(3) COMP-3.
           05  Z               PIC S9(2).
           05  D               PIC 9(2).
           05  K               PIC N(2).
       01  D1.
           05  FILLER          PIC X(3).
           05  T               PIC X.
       01  D2.
           05  T               PIC X.
           05  G.
               10  T           PIC X.
       01  D3.
           05  TAB             OCCURS 2.
               10  T           PIC X.
       01  D4 PIC X(8).
       77  SOLO                PIC X.
