#pragma once
// The pictures live in a static library, whose resource initialiser the linker may drop unless
// something calls it.
void ensureResources();
