// Notices a handler entered again while it runs. That happens only when
// something inside it runs the event loop, which nothing may do: the user's
// next input would be handled in the middle of the last, and one of them
// would find the other's state half changed. Says so as a warning, which the
// window tests turn into a failure.
#pragma once

#include <QtGlobal>

class THandlerGuard {
public:
    THandlerGuard(int& Depth, const char* Name) : Depth(Depth)
    {
        if (Depth++ > 0)
            qWarning("%s entered again while it runs", Name);
    }
    ~THandlerGuard() { --Depth; }
    THandlerGuard(const THandlerGuard&) = delete;
    THandlerGuard& operator=(const THandlerGuard&) = delete;

private:
    int& Depth;
};

// Guards the handler it opens; one depth per handler, shared by all windows.
#define TAVRIN_GUARD_HANDLER()                                                                 \
    static int handlerDepth = 0;                                                               \
    const THandlerGuard handlerGuard(handlerDepth, Q_FUNC_INFO)
