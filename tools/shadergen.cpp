// Build-time generator of the two shader sets from one source per stage.
// Usage: shadergen <source .vert|.frag> <#version 330 output> <#version 140 output>
//
// A source has no #version line and declares its inputs plainly
// ("in vec3 aPosition;"). The 330 set gets each vertex input's location from
// the attribute list the drawing code uses, and the fragment colour location
// 0; the 140 set, which cannot declare locations, gets the same ones bound by
// name when the program is linked. An input the list does not know stops the
// build, so a program and the vertex set-up can never disagree.
#include "engine/gl/qvattributes.h"

#include <cstdio>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>

namespace {

constexpr const char* version330 = "#version 330";
constexpr const char* version140 = "#version 140";
constexpr const char* fragmentOutput = "fragColor";
constexpr unsigned fragmentOutputLocation = 0;

std::optional<unsigned> attributeLocation(const std::string& name)
{
    for (const QvAttributeBinding& binding : qvAttributeBindings) {
        if (binding.name == name) return qvLocation(binding.attribute);
    }
    return std::nullopt;
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: shadergen <source> <330 output> <140 output>\n");
        return 2;
    }
    const std::string sourcePath = argv[1];
    std::ifstream in(sourcePath, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot be read\n", sourcePath.c_str());
        return 1;
    }
    const bool vertexStage = endsWith(sourcePath, ".vert");
    // A declaration at the start of a line: "in <type> <name>;" or "out <type> <name>;".
    const std::regex declaration(R"(^\s*(in|out)\s+\w+\s+(\w+)\s*;)");

    std::ostringstream modern, legacy;
    modern << version330 << "\n";
    legacy << version140 << "\n";
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.rfind("#version", 0) == 0) {
            std::fprintf(stderr, "%s:%d: the build writes the #version line\n", sourcePath.c_str(), number);
            return 1;
        }
        std::smatch match;
        std::string located = line;
        if (std::regex_search(line, match, declaration)) {
            const std::string name = match[2];
            std::optional<unsigned> location;
            if (vertexStage && match[1] == "in") {
                location = attributeLocation(name);
                if (!location) {
                    std::fprintf(stderr,
                                 "%s:%d: vertex input %s has no location in engine/gl/qvattributes.h\n",
                                 sourcePath.c_str(), number, name.c_str());
                    return 1;
                }
            } else if (!vertexStage && match[1] == "out") {
                if (name != fragmentOutput) {
                    std::fprintf(stderr, "%s:%d: the fragment colour is called %s, not %s\n",
                                 sourcePath.c_str(), number, fragmentOutput, name.c_str());
                    return 1;
                }
                location = fragmentOutputLocation;
            }
            if (location) located = "layout(location = " + std::to_string(*location) + ") " + line;
        }
        modern << located << "\n";
        legacy << line << "\n";
    }
    if (!writeFile(argv[2], modern.str()) || !writeFile(argv[3], legacy.str())) {
        std::fprintf(stderr, "%s: outputs cannot be written\n", sourcePath.c_str());
        return 1;
    }
    return 0;
}
