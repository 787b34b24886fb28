// Texts the program shows in more than one place.
#pragma once

#define CAPTION_ERROR "ERROR"
#define CAPTION_INFORMATION "INFORMATION"
