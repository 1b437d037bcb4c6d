#pragma once

#include "postwatch_plugin.h"

// The exported functions of the two plug-in libraries, as the host calls them. The program
// uses the linked ones (Linked()); tests put functions of their own in their place to play
// a library that breaks its contract.
struct PortalpostFunctions {
    int32_t (*getCategory)(const char** categories) = nullptr;
    int32_t (*checkMsg)(const PwSink* sink, const char* category, const char* account,
                        const char* userName, const char* password, int32_t* newCount,
                        int32_t timeOutSeconds) = nullptr;

    static PortalpostFunctions Linked() { return {::GetPortalpostCategory, ::CheckPortalpostMsg}; }
};

struct MapiprobeFunctions {
    int32_t (*logon)(const PwSink* sink, const char* profile, const char* account,
                     int32_t logonDialog, int32_t* newCount, uint32_t bodyLimit) = nullptr;
    void (*logoff)(const PwSink* sink) = nullptr;
    int32_t (*getProfiles)(char** names) = nullptr;
    int32_t (*checkMapiExist)() = nullptr;

    static MapiprobeFunctions Linked()
    {
        return {::LogonExchange, ::LogoffExchange, ::GetProfiles, ::CheckMapiExist};
    }
};
