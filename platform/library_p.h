#pragma once

// Bookkeeping shared between the loader and the socket layer (not public).
void NoteWinsockStartup();
void NoteWinsockCleanup();
