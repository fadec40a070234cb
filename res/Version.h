// The version, set once for the version resource.
#pragma once

#define KESTREL_VERSION_NUMBERS 1, 0, 0, 0
#define KESTREL_VERSION_TEXT "1.0.0.0"
