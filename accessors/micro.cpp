// micro.cpp - to be written.
