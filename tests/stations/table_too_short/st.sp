ST
10 20
1.5
2
1.0
0 0
Ex
100 0 0 1
1 0
Hy
90 0
1 1
AP
short.rsp
