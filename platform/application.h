#pragma once

// The application facade: what the components need of "the message loop".

#include <exception>
#include <functional>

class Application {
public:
    // Handles every event that is waiting, then returns (never blocks).
    static void ProcessMessages();

    // Blocks in the event loop until at least one event has been handled or
    // `maxWaitMs` milliseconds have passed, whichever comes first. Costs no
    // CPU while nothing happens. The waiting loops (Flush, ReadLine, the
    // blocking FTP and HTTP calls) are built on it.
    static void WaitForMessage(int maxWaitMs);

    // True once the application has been asked to quit (the WM_QUIT analogue).
    static bool Terminated();
    static void Terminate();

    // The application-wide handler for exceptions that nothing else caught
    // (the GUI shows them). Without a hook the message goes to stderr.
    using ExceptionHook = std::function<void(const std::exception&)>;
    static void SetExceptionHook(ExceptionHook hook);
    static void HandleException(const std::exception& e);
};
