// winmain: the names of this build, shown by the version text and the credit line.
#include "winmain.h"

const ProductInfo Product = {"Trawlex", "3.00", "Release"};
const char* const MakerHomePage = TRAWLEX_HOME_PAGE;
