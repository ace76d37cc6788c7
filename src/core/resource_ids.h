#pragma once

// Ids of the program's resources, shared by the resource script and the code that loads them.
#define TAVRO_ICON_ID 101
