// Code page 932 through iconv, whose CP932 gives every pair what Windows gives it; command-line
// arguments arrive in UTF-8 already.
#include "platform.h"

#include <iconv.h>

namespace {

// One converter for the whole run (the companion has one thread): JSON output converts
// three pieces of every record.
class Cp932Converter {
public:
    Cp932Converter() : handle_(iconv_open("UTF-8", "CP932")) {}
    ~Cp932Converter()
    {
        if (Usable())
            iconv_close(handle_);
    }
    Cp932Converter(const Cp932Converter&) = delete;
    Cp932Converter& operator=(const Cp932Converter&) = delete;

    bool Usable() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Handle() const { return handle_; }

private:
    iconv_t handle_;
};

}  // namespace

bool AppendCp932CharacterAsUtf8(const char* character, int size, std::string* out)
{
    static Cp932Converter converter;
    if (!converter.Usable())
        return false;
    char in[2] = {character[0], size > 1 ? character[1] : '\0'};
    char utf8[8];
    char* inAt = in;
    size_t inLeft = static_cast<size_t>(size);
    char* outAt = utf8;
    size_t outLeft = sizeof utf8;
    iconv(converter.Handle(), nullptr, nullptr, nullptr, nullptr);
    if (iconv(converter.Handle(), &inAt, &inLeft, &outAt, &outLeft) == static_cast<size_t>(-1) || inLeft != 0)
        return false;
    out->append(utf8, static_cast<size_t>(outAt - utf8));
    return true;
}

bool AppendAnsiAsUtf8(std::string_view, std::string*)
{
    return false;
}
