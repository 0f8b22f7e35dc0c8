#pragma once
// Helpers shared by the archived forms of the sensor classes.

#include <QString>

#include <initializer_list>

namespace platform {
class Coder;
}

// Reads one sequential object per field, in order. A nil object leaves its field a null QString; anything
// but a string is a bad archive. Returns the reason of the first failure, or a null QString.
QString decodeArchivedStrings(platform::Coder& coder, std::initializer_list<QString*> fields);
