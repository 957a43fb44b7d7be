// ipmeans.cpp - to be written.
