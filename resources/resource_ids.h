// Identifiers of the module's own resources, shared by the resource script
// and the code that loads them.
#pragma once

#define IDI_VELUMO_COMMAND 3000
#define IDD_VELUMO_ABOUT 3001
