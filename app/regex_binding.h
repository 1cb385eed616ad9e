// Start-up step S2: binds the pattern component's 19 entry points by name.
#pragma once

void BindRegExComponent();
