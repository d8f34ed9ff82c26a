#pragma once
// Placeholder until the net core lands.
class NetClass {
public:
    virtual ~NetClass() {}
    virtual void buildNet() = 0;
    virtual void createTokens() = 0;
};
