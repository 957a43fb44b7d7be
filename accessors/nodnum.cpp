// nodnum.cpp - to be written.
