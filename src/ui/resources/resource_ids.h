// Resource ids of the help window's icon and hand cursor, shared by the
// resource script and the window code.
#pragma once

#define IDI_APP 101
#define IDC_HAND_POINTER 102
