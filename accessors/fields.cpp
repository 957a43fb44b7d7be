// fields.cpp - to be written.
