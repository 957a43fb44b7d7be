typedef int mikral_unit;
