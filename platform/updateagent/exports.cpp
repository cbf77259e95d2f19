#include "Agent.h"

#include <UpdateAgent.h>

#define UPDATEAGENT_EXPORT __attribute__((visibility("default")))

UPDATEAGENT_EXPORT UpdateAgentInterface* GetUpdateAgentInterface()
{
    return &updateagent::Agent::instance();
}

UPDATEAGENT_EXPORT void RegisterCMUpdaterInterface(CMUpdaterInterface* callbacks)
{
    updateagent::Agent::instance().registerCallbacks(callbacks);
}

UPDATEAGENT_EXPORT void UnInit()
{
    updateagent::Agent::instance().unInit();
}
