// The INFO parameter texts exchanged with the master. Kept apart from the entry code so that the
// checks and the parser can be exercised on their own (the fuzz targets link only this file).
#include "oxf/OXF.h"

#include <boost/property_tree/info_parser.hpp>

#include <sstream>
#include <stdexcept>
#include <string>

namespace Orvex::OXF {

bool checkParameterText(const std::string& text, std::string* error) {
    if (text.size() > MaxParameterTextSize) {
        *error = "Parameter text refused: " + std::to_string(text.size()) +
                 " bytes is more than the limit of " + std::to_string(MaxParameterTextSize);
        return false;
    }
    if (text.find("#include") != std::string::npos) {
        *error = "Parameter text refused: #include is not allowed";
        return false;
    }
    // Braces outside quoted strings give the nesting depth of the INFO text.
    int depth = 0;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"' || c == '\n')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ';') {
            while (i < text.size() && text[i] != '\n') ++i; // a comment
        } else if (c == '{') {
            if (++depth > MaxParameterDepth) {
                *error = "Parameter text refused: nested deeper than " + std::to_string(MaxParameterDepth) +
                         " levels";
                return false;
            }
        } else if (c == '}') {
            if (depth > 0) --depth;
        }
    }
    return true;
}

boost::property_tree::ptree parseParameterText(const std::string& text) {
    boost::property_tree::ptree tree;
    if (text.empty()) return tree;
    std::string error;
    if (!checkParameterText(text, &error)) throw std::runtime_error(error);
    std::istringstream in(text);
    try {
        boost::property_tree::read_info(in, tree);
    } catch (const boost::property_tree::info_parser_error& e) {
        throw std::runtime_error(std::string("Parameter text cannot be read: ") + e.message() + " (line " +
                                 std::to_string(e.line()) + ")");
    }
    return tree;
}

std::string writeParameterText(const boost::property_tree::ptree& tree) {
    std::ostringstream out;
    boost::property_tree::write_info(out, tree, boost::property_tree::info_writer_make_settings(' ', 4));
    return out.str();
}

} // namespace Orvex::OXF
