/* The product's own name, version and web address, for the resource scripts and the code. */
#ifndef FERRYWICK_APP_RESOURCES_PRODUCT_H
#define FERRYWICK_APP_RESOURCES_PRODUCT_H

#define FW_PRODUCT_NAME "Ferrywick"
/* FW_VERSION_TEXT: the project's version, set in the top CMakeLists.txt. */
#include "fw_version.h"
/* Opened by the Help menu's first item, which shows it as its text. */
#define FW_WEB_ADDRESS "https://ferrywick.example/"

#endif
