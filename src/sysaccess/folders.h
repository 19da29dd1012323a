// The windows and system folders as the platform reports them, and the
// growing read they and the run's own path share.
#pragma once

#include <functional>
#include <string>

#include "drvsetup.h"

// The system and windows folders as the platform reports them (no trailing
// backslash), read whole however long they are; empty when the query fails.
std::string ReadSystemFolder();
std::string ReadWindowsFolder();

// A text the platform writes into the caller's buffer, read whole however
// long it is: `query(buffer, size)` makes the call and returns its answer.
// The first buffer holds 261 characters. An answer below the buffer's size is
// the text's length. A larger one is the size the text needs, and the next
// buffer holds one more character; an answer equal to the size means the text
// was cut, and the next buffer is twice as large. Empty when the query fails,
// or when it still asks for more once no Windows path could be longer.
std::string ReadGrowing(const std::function<DWORD(char* buffer, DWORD size)>& query);
