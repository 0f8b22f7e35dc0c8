#pragma once
// The start-up registration of the concrete sensor classes in their fixed load order (the order of the
// acquisition core's sensor list). Called from a program's start-up before any thread starts.

class TEVSensorClassLoader {
public:
    // Registers every concrete sensor class once; later calls do nothing.
    static void loadAll();
};
