#include "archive/ZipMessages.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <mutex>

namespace {

struct MessageRow {
    int id;
    const char* text;
};

// Sorted by id.
constexpr MessageRow kMessages[] = {
    {10101, "Fatal Error in ZIPENG.DLL: abort exception"},
    {10102, "Error - no zip file specified!"},
    {10103, "Requested memory not available"},
    {10104, "Error - passwords do NOT match\nPassword ignored"},
    {10105, "Copying: "},
    {10140, "Warning - the temporary archive could not be deleted"},
    {10141, "Error - the temporary archive could not be renamed"},
    {10142, "Error - the temporary archive could not be created"},
    {10143, "Error - the original archive could not be replaced"},
    {10150, "Error - no add password given"},
    {10151, "Error - no extract password given"},
    {10152, "&Ok"},
    {10153, "&Cancel"},
    {10154, "Password"},
    {10155, "Enter Password "},
    {10156, "Confirm Password "},
    {10180, "Adding: "},
    {10181, "Extracting: "},
    {10182, "Testing: "},
    {10183, "Skipped: "},
    {10184, "Freshening: "},
    {10185, "Updating: "},
    {10201, "Seek error reading Zip archive!"},
    {10202, "Unknown error in List() function\n"},
    {10203, "Warning - Error in zip structure!"},
    {10204, "Warning - Garbage at the end of the zipfile!"},
    {10301, "Error - no files to zip!"},
    {10302, "Unattended action not possible without a password"},
    {10303, "AddFreshen or AddUpdate not possible on a spanned archive"},
    {10304, "Error %.1d occurred during Auto SFX creation."},
    {10401, "Error - no files to extract!"},
    {10501, "Fatal Error in UNZENG.DLL: abort exception"},
    {10502, "Warning - Unattended Extract: possible not all files extracted"},
    {10503, "Error - your UNZENG.DLL can not use streams, please update to version >= 1.60"},
    {10601, "ZIPENG.DLL Loaded"},
    {10602, "ZipEngineExec function not found in ZIPENG.DLL!"},
    {10603, "GetZipEngineVersion function not found in ZIPENG.DLL!"},
    {10604, "ZIPENG.DLL not found!"},
    {10701, "UNZENG.DLL Loaded!"},
    {10702, "UnzipEngineExec function not found in UNZENG.DLL!"},
    {10703, "GetUnzipEngineVersion function not found in UNZENG.DLL!"},
    {10704, "UNZENG.DLL not found!"},
    {10801, "Error - On or more of the 4 property strings mentioned below exceeds 255 characters!"},
    {10802, "Error - ZIPSFX.BIN not found!"},
    {10803, "Error: input file is not a zip file"},
    {10901, "Writing the self-extractor stub..."},
    {10902, "Copying the archive behind the stub..."},
    {10903, "Adjusting the offsets of the archive..."},
    {11001, "Input file does not exist"},
    {11002, "Zip file could not be opened"},
    {11003, "Not a valid drive: %s"},
    {11004, "Drive %s is NOT defined"},
    {11005, "Volume label could not be set"},
    {11006, "Not enough memory to display MsgBox"},
    {11007, "User canceled operation"},
    {11008, "Seek error in input file"},
    {11009, "Creation of output file failed"},
    {11010, "Write error in output file"},
    {11011, "Error while reading the End Of Central Directory"},
    {11012, "Error while reading a local header"},
    {11013, "Error while reading a central header"},
    {11014, "A local header signature is wrong"},
    {11015, "A central header signature is wrong"},
    {11016, "Error while reading a local file name"},
    {11017, "Error while reading a central file name"},
    {11018, "Error while reading a local extra field"},
    {11019, "Error while reading a central extra field"},
    {11020, "Error while reading/writing a data descriptor area"},
    {11021, "Error while reading zipped data"},
    {11022, "Error while reading a file comment"},
    {11023, "Error while reading the archive comment"},
    {11024, "UnKnown error in function ReadSpan() or WriteSpan()\n"},
    {11025, "Unattended disk spanning not implemented"},
    {11026, "A local header not found in internal structure"},
    {11027, "Temporary file could not be created"},
    {11028, "Error while writing a local header"},
    {11029, "Error while writing a central header"},
    {11030, "Error while writing the End Of Central Directory"},
    {11031, "Error while reading a Extended Local signature"},
    {11032, "This disk has not enough free space available"},
    {11033, "Please insert last disk"},
    {11034, "Please insert disk volume %.1d of %.1d"},
    {11035, "\nin drive: %s"},
    {11036, "'%s' is not a valid Zip archive"},
    {11037, "This is the first disk in a backup set,\nplease insert the last disk of this set"},
    {11038, "This is the %dth disk in a backup set,\nplease insert the last disk of this set"},
    {11039, "There is already a file %s\nDo you want to overwrite this file"},
    {11040,
     "ATTENTION: This is previous disk no %d!!!\nAre you sure you want to overwrite the contents"},
    {11041, "Error - Self extracting archives(.exe) can not be spanned"},
    {11042, "Error while copying a filename of a CEH structure"},
    {11043, "Seek error while skipping a EOC structure"},
    {11044, "Error while copying the zip archive comment"},
    {11045, "This is the first file in a backup set,\nplease choose the last file of this set"},
    {11046, "Please insert disk volume %.1d"},
    {11047, "Central directory"},
};

const char* builtIn(int id) {
    auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), id,
                               [](const MessageRow& row, int key) { return row.id < key; });
    if (it != std::end(kMessages) && it->id == id) return it->text;
    return nullptr;
}

// Runtime replacements (translations; tests remove ids). Guarded although the component
// runs on one thread: the table is process-wide.
std::mutex g_overrideLock;
std::map<int, std::optional<std::string>> g_overrides;
bool g_haveOverrides = false;

std::optional<std::string> lookup(int id) {
    if (g_haveOverrides) {
        std::lock_guard<std::mutex> lock(g_overrideLock);
        auto it = g_overrides.find(id);
        if (it != g_overrides.end()) return it->second;
    }
    if (const char* t = builtIn(id)) return std::string(t);
    return std::nullopt;
}

std::string fallback(int id) {
    return "The message table is probably not linked to the executable\nMissing String ID is: " +
           std::to_string(id);
}

bool parseInteger(const std::string& s, long long& out) {
    if (s.empty()) return false;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
}

std::string padded(std::string body, bool negative, size_t width, bool leftAlign, bool zeroPad,
                   int precision) {
    if (precision >= 0 && body.size() < static_cast<size_t>(precision))
        body.insert(0, static_cast<size_t>(precision) - body.size(), '0');
    if (negative) body.insert(0, 1, '-');
    if (body.size() < width) {
        size_t fill = width - body.size();
        if (leftAlign)
            body.append(fill, ' ');
        else if (zeroPad && precision < 0)
            body.insert(negative ? 1 : 0, fill, '0');
        else
            body.insert(0, fill, ' ');
    }
    return body;
}

}  // namespace

std::string ZipMessageText(int id) {
    if (auto t = lookup(id)) return *t;
    return fallback(id);
}

bool ZipMessageExists(int id) {
    return lookup(id).has_value();
}

std::string ZipMessageTextOr(int id, const std::string& def) {
    if (auto t = lookup(id)) return *t;
    return def;
}

void SetZipMessageText(int id, const std::optional<std::string>& text) {
    std::lock_guard<std::mutex> lock(g_overrideLock);
    g_overrides[id] = text;
    g_haveOverrides = true;
}

void ResetZipMessages() {
    std::lock_guard<std::mutex> lock(g_overrideLock);
    g_overrides.clear();
    g_haveOverrides = false;
}

std::string ZipFormat(const std::string& format, const std::vector<std::string>& args) {
    std::string out;
    out.reserve(format.size() + 32);
    size_t next = 0;
    size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        // %[flags][width][.precision]conversion
        size_t j = i + 1;
        bool leftAlign = false, zeroPad = false;
        while (j < format.size() &&
               (format[j] == '-' || format[j] == '0' || format[j] == '+' || format[j] == ' ')) {
            if (format[j] == '-') leftAlign = true;
            if (format[j] == '0') zeroPad = true;
            ++j;
        }
        size_t width = 0;
        while (j < format.size() && format[j] >= '0' && format[j] <= '9' && width < 1000)
            width = width * 10 + static_cast<size_t>(format[j++] - '0');
        int precision = -1;
        if (j < format.size() && format[j] == '.') {
            ++j;
            precision = 0;
            while (j < format.size() && format[j] >= '0' && format[j] <= '9' && precision < 1000)
                precision = precision * 10 + (format[j++] - '0');
        }
        if (j >= format.size()) {  // dangling conversion: copy as it stands
            out.append(format, i, std::string::npos);
            break;
        }
        char conv = format[j];
        if (conv != 'd' && conv != 'i' && conv != 'u' && conv != 's' && conv != 'x' &&
            conv != 'X') {
            out.append(format, i, j + 1 - i);
            i = j + 1;
            continue;
        }
        std::string arg = next < args.size() ? args[next] : std::string();
        ++next;
        long long value = 0;
        if (conv != 's' && parseInteger(arg, value)) {
            bool negative = value < 0;
            unsigned long long mag = negative ? 0ULL - static_cast<unsigned long long>(value)
                                              : static_cast<unsigned long long>(value);
            char buf[32];
            int base = (conv == 'x' || conv == 'X') ? 16 : 10;
            auto res = std::to_chars(buf, buf + sizeof buf, mag, base);
            std::string body(buf, res.ptr);
            if (conv == 'X')
                std::transform(body.begin(), body.end(), body.begin(),
                               [](char ch) { return ch >= 'a' && ch <= 'f' ? ch - 32 : ch; });
            out += padded(std::move(body), negative, width, leftAlign, zeroPad, precision);
        } else {
            if (conv == 's' && precision >= 0 && arg.size() > static_cast<size_t>(precision))
                arg.resize(static_cast<size_t>(precision));
            out += padded(std::move(arg), false, width, leftAlign, false, -1);
        }
        i = j + 1;
    }
    return out;
}

EZipArchiver::EZipArchiver(int id, bool show)
    : std::runtime_error(ZipMessageText(id)), ShowToUser(show), MessageId(id) {}

EZipArchiver::EZipArchiver(int id, int64_t arg)
    : std::runtime_error(ZipMessageExists(id) ? ZipFormat(ZipMessageText(id), {std::to_string(arg)})
                                              : ZipMessageText(id)),
      ShowToUser(true),
      MessageId(id) {}

EZipArchiver::EZipArchiver(int id, const std::string& arg)
    : std::runtime_error(ZipMessageExists(id) ? ZipFormat(ZipMessageText(id), {arg})
                                              : ZipMessageText(id)),
      ShowToUser(true),
      MessageId(id) {}
