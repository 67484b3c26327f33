#pragma once

// Root of the framework's exception classes; lets a catcher take any of them
// as a CObject pointer.
class CObject {
public:
    virtual ~CObject() = default;
};
