#pragma once

// The hourglass for as long as a request or a local batch runs: the
// constructor shows it, the destructor takes it away again on every path
// out of the block, an exception included. Nested scopes keep the
// hourglass until the outermost one ends.
class TBusyCursor {
public:
    TBusyCursor();
    ~TBusyCursor();
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};
