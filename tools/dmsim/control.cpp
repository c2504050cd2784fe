#include "dmsim/control.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace dmsim {

namespace {

// A JSON object written field by field; texts are escaped, byte arrays written as hex.
class JsonObject {
  public:
    JsonObject& Number(const char* name, long long value) {
        return Raw(name, std::to_string(value));
    }
    JsonObject& Flag(const char* name, bool value) { return Raw(name, value ? "true" : "false"); }
    JsonObject& Text(const char* name, const std::string& text) {
        std::string quoted = "\"";
        for (unsigned char c : text) {
            if (c == '"' || c == '\\') {
                quoted += '\\';
                quoted += static_cast<char>(c);
            } else if (c < 0x20 || c >= 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                quoted += escaped;
            } else {
                quoted += static_cast<char>(c);
            }
        }
        return Raw(name, quoted + "\"");
    }
    template <class Container> JsonObject& Hex(const char* name, const Container& bytes) {
        std::string hex;
        char pair[3];
        for (uint8_t b : bytes) {
            std::snprintf(pair, sizeof pair, "%02x", b);
            hex += pair;
        }
        return Raw(name, "\"" + hex + "\"");
    }
    template <class Container> JsonObject& Numbers(const char* name, const Container& values) {
        std::string list = "[";
        for (auto value : values)
            list += (list.size() > 1 ? "," : "") + std::to_string(value);
        return Raw(name, list + "]");
    }
    JsonObject& Objects(const char* name, const std::vector<std::string>& objects) {
        std::string list = "[";
        for (const std::string& object : objects)
            list += (list.size() > 1 ? "," : "") + object;
        return Raw(name, list + "]");
    }
    JsonObject& Raw(const char* name, const std::string& value) {
        text_ += (text_.empty() ? "{\"" : ",\"") + std::string(name) + "\":" + value;
        return *this;
    }
    std::string Done() const { return text_.empty() ? "{}" : text_ + "}"; }

  private:
    std::string text_;
};

std::string RecordJson(const Record& r) {
    return JsonObject()
        .Number("identifier", r.identifier)
        .Text("code", r.code)
        .Number("year", r.year)
        .Number("month", r.month)
        .Number("day", r.day)
        .Number("hour", r.hour)
        .Number("minute", r.minute)
        .Number("second", r.second)
        .Flag("flag_a", r.flagA)
        .Flag("flag_b", r.flagB)
        .Number("value24", r.value24)
        .Number("value32", r.value32)
        .Number("value16", r.value16)
        .Number("value8", r.value8)
        .Done();
}

void RecordsJson(const std::vector<Record>& records, const char* name, JsonObject& into) {
    std::vector<std::string> objects;
    for (const Record& record : records)
        objects.push_back(RecordJson(record));
    into.Objects(name, objects);
}

std::string CardJson(const Card& c) {
    return JsonObject()
        .Flag("present", c.present)
        .Number("number", c.number)
        .Text("record_code", c.recordCode)
        .Number("attribute1", c.attribute1)
        .Number("attribute2", c.attribute2)
        .Number("attribute3", c.attribute3)
        .Number("attribute4", c.attribute4)
        .Number("password", c.password)
        .Hex("name", c.name)
        .Number("year", c.year)
        .Number("month", c.month)
        .Number("day", c.day)
        .Number("value16", c.value16)
        .Number("balance", c.balance)
        .Number("money_attribute", c.moneyAttribute)
        .Number("money_count", c.moneyCount)
        .Number("id_type", c.idType)
        .Number("id", c.id)
        .Done();
}

bool ParseAddress(const std::string& text, uint16_t& address) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || value < 0 || value > 0xFFFF) return false;
    address = static_cast<uint16_t>(value);
    return true;
}

} // namespace

Record GeneratedRecord(size_t i) {
    static const char kCodeCharacters[] =
        " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
    Record r;
    auto n = static_cast<int>(i);
    r.identifier = static_cast<uint32_t>(100000 + 7919 * i);
    r.year = 2001 + n % 30;
    r.month = 1 + n % 12;
    r.day = 1 + (3 * n) % 28;
    r.hour = (5 * n) % 24;
    r.minute = (7 * n) % 60;
    r.second = (11 * n) % 60;
    r.flagA = n % 2 == 1;
    r.flagB = n % 3 == 0;
    // The first two characters take the whole table, the other five its first 16 characters.
    r.code = {kCodeCharacters[1 + (n * 5) % 63], kCodeCharacters[11 + n % 53]};
    for (int k = 0; k < 5; ++k)
        r.code += kCodeCharacters[1 + (n + k) % 15];
    r.value24 = (n % 2 ? -1 : 1) * (1000 * n + 17);
    r.value32 = (n % 3 ? 1 : -1) * (100000 * n + 3);
    r.value16 = static_cast<uint16_t>(60000 - 13 * n);
    r.value8 = static_cast<uint8_t>(200 - n);
    return r;
}

std::string TerminalJson(const Terminal& t) {
    JsonObject json;
    json.Number("address", t.address)
        .Number("serial_number", t.serialNumber)
        .Flag("online", t.online)
        .Raw("clock", JsonObject()
                          .Number("year", t.clock.year)
                          .Number("month", t.clock.month)
                          .Number("day", t.clock.day)
                          .Number("hour", t.clock.hour)
                          .Number("minute", t.clock.minute)
                          .Number("second", t.clock.second)
                          .Number("weekday", t.clock.weekday)
                          .Done())
        .Hex("property", t.property)
        .Hex("system_property", t.systemProperty)
        .Number("status_value", t.statusValue)
        .Flag("long_records", t.longRecords);
    RecordsJson(t.records, "records", json);
    json.Number("record_index", t.recordIndex)
        .Numbers("white_list", t.WhiteList())
        .Numbers("black_list", t.BlackList())
        .Raw("card", CardJson(t.card))
        .Hex("lcd_title", t.lcdTitle)
        .Number("beeps", t.beeps)
        .Number("last_beep", t.lastBeep)
        .Number("lock_openings", t.lockOpenings)
        .Number("last_lock", t.lastLock)
        .Number("page_loads", t.pageLoads);
    return json.Done();
}

const char kTooLongAnswer[] = "error: line longer than 4096 bytes";

std::vector<LineSplitter::Line> LineSplitter::Add(const char* bytes, size_t count) {
    std::vector<Line> lines;
    for (size_t i = 0; i < count; ++i) {
        char c = bytes[i];
        if (c == '\n') {
            if (!skipping_) {
                if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
                lines.push_back({false, pending_});
            }
            pending_.clear();
            skipping_ = false;
        } else if (!skipping_) {
            pending_ += c;
            if (pending_.size() > longest_ + 1) { // room for a "\r" before the end
                lines.push_back({true, ""});
                pending_.clear();
                skipping_ = true;
            }
        }
    }
    return lines;
}

std::string RunControlLine(Simulator& simulator, const std::string& line) {
    std::istringstream words(line);
    std::string verb, addressText, argument, extra;
    words >> verb >> addressText >> argument >> extra;
    if (verb.empty()) return "error: empty line";
    uint16_t address = 0;
    if (!ParseAddress(addressText, address)) return "error: bad terminal address";
    Terminal terminal;
    if (!simulator.GetTerminal(address, terminal)) return "error: no terminal " + addressText;

    if (verb == "show" && argument.empty()) return TerminalJson(terminal);
    if (verb == "records") {
        char* end = nullptr;
        long count = std::strtol(argument.c_str(), &end, 10);
        if (argument.empty() || *end != '\0' || count < 0 || count > 100000)
            return "error: bad record count";
        if (!extra.empty() && extra != "long") return "error: unknown record form " + extra;
        simulator.UpdateTerminal(address, [&](Terminal& t) {
            t.longRecords = extra == "long";
            t.records.clear();
            for (long i = 0; i < count; ++i)
                t.records.push_back(GeneratedRecord(static_cast<size_t>(i)));
        });
        return "ok";
    }
    if (verb == "online" && (argument == "0" || argument == "1")) {
        simulator.UpdateTerminal(address, [&](Terminal& t) { t.online = argument == "1"; });
        return "ok";
    }
    return "error: unknown control line: " + line;
}

} // namespace dmsim
