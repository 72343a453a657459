// Laid out against the rules on purpose: the format check must reject it.
int  f( int x ){return x+1;}
