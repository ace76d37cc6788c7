#pragma once

// The version of this build: the windows show it, and the version resource carries it. Plain
// macros, so the resource compiler reads the same definition as the program.
#define TAVRO_PRODUCT_VERSION "4.0.0.0-260530"
#define TAVRO_FILE_VERSION 4, 0, 0, 0
#define TAVRO_FILE_VERSION_TEXT "4.0.0.0"
