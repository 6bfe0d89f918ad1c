#pragma once

// Whoever copies imported recordings into the media cache. The library store asks it to plan after every
// rescan that published its result; while a run is active that only requests a new plan.
class CachePlanner {
public:
    virtual ~CachePlanner() = default;
    virtual void start() = 0;
};
