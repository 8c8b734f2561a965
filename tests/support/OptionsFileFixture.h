#pragma once

#include "EngineFixture.h"
#include "OptionsFile.h"
#include "RoutingSettings.h"
#include "TempDirectory.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

// The options file and the settings record as bytes, and a fresh directory
// for the file.
using Bytes = std::vector<uint8_t>;

inline const Notice Missing{"Options file not exist!  Initializing With Deffault Values!", "Errorr!"};
inline const Notice ShortRead{"Error While Reading Options File !", "Errorr!"};

class OptionsFile : public EngineFixture {
protected:
    static void Write(const Bytes& bytes, const char* name = OptionsFileName)
    {
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    static Bytes Read(const char* name = OptionsFileName)
    {
        std::ifstream in(name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    static Bytes Image()
    {
        Bytes bytes(sizeof RoutingOptions);
        memcpy(bytes.data(), &RoutingOptions, bytes.size());
        return bytes;
    }

    // A file with every byte distinct: byte i holds i + 1.
    static Bytes Counting(size_t size)
    {
        Bytes bytes(size);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<uint8_t>(i + 1);
        return bytes;
    }

    TempDirectory directory;
};
