// The scenario language: one command per line that drives the simulated device over time (see README.md).

#include "DeviceModel.h"

#include <climits>
#include <optional>
#include <sstream>

namespace olvo::sim::detail
{

namespace
{
    using Args = std::vector<std::string>;
    using Action = std::function<void (DeviceModel&)>;

    /** A parse failure: its message becomes the error text. */
    struct Bad
    {
        std::string message;
    };

    /** Decimal, or hexadecimal with 0x; a leading '-' only when allowed. Checked against [lo, hi]. */
    int64_t number (const std::string& text, int64_t lo, int64_t hi, const std::string& what)
    {
        size_t i = 0;
        bool negative = false;

        if (i < text.size() && text[i] == '-' && lo < 0)
        {
            negative = true;
            ++i;
        }

        int base = 10;

        if (text.size() > i + 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X'))
        {
            base = 16;
            i += 2;
        }

        if (i >= text.size())
            throw Bad { "bad number '" + text + "' for " + what };

        int64_t value = 0;

        for (; i < text.size(); ++i)
        {
            const char c = text[i];
            int digit;

            if (c >= '0' && c <= '9')                       digit = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f')    digit = c - 'a' + 10;
            else if (base == 16 && c >= 'A' && c <= 'F')    digit = c - 'A' + 10;
            else throw Bad { "bad number '" + text + "' for " + what };

            value = value * base + digit;

            if (value > (int64_t) 1 << 40)
                throw Bad { "number '" + text + "' out of range for " + what };
        }

        if (negative)
            value = -value;

        if (value < lo || value > hi)
            throw Bad { "number '" + text + "' out of range for " + what + " (" + std::to_string (lo) + ".."
                        + std::to_string (hi) + ")" };

        return value;
    }

    std::vector<std::string> split (const std::string& text, char separator)
    {
        std::vector<std::string> parts;
        std::string part;
        std::istringstream in (text);

        while (std::getline (in, part, separator))
            parts.push_back (part);

        if (! text.empty() && text.back() == separator)
            parts.push_back ({});

        return parts;
    }

    /** "a.b" or "a.b.c" version numbers. */
    std::array<int, 3> versionNumbers (const std::string& text, int parts, const std::string& what)
    {
        const auto fields = split (text, '.');

        if ((int) fields.size() != parts)
            throw Bad { "bad version '" + text + "' for " + what };

        std::array<int, 3> v {};

        for (int i = 0; i < parts; ++i)
            v[(size_t) i] = (int) number (fields[(size_t) i], 0, i < 2 ? 255 : 65535, what);

        return v;
    }

    /** key=value arguments; only the listed keys, each at most once, and at least one of them. */
    std::map<std::string, std::string> keyValues (const Args& args, const std::set<std::string>& allowed)
    {
        std::map<std::string, std::string> values;

        for (const auto& arg : args)
        {
            const auto eq = arg.find ('=');

            if (eq == std::string::npos || eq == 0)
                throw Bad { "expected key=value, got '" + arg + "'" };

            const auto key = arg.substr (0, eq);

            if (allowed.count (key) == 0)
                throw Bad { "unknown key '" + key + "'" };

            if (! values.emplace (key, arg.substr (eq + 1)).second)
                throw Bad { "key '" + key + "' given twice" };
        }

        if (values.empty())
            throw Bad { "expected at least one key=value" };

        return values;
    }

    void expectCount (const Args& args, size_t n)
    {
        if (args.size() != n)
            throw Bad { "expected " + std::to_string (n) + " argument" + (n == 1 ? "" : "s") + ", got "
                        + std::to_string (args.size()) };
    }

    //==============================================================================
    Action parseIdentity (const Args& args)
    {
        auto values = keyValues (args, { "serial", "uid", "version" });
        std::optional<std::string> serial;
        std::optional<std::array<uint32_t, 4>> uid;
        std::optional<std::array<int, 3>> version;

        if (values.count ("serial"))
        {
            if (values["serial"].size() > 32)
                throw Bad { "serial longer than 32 characters" };

            serial = values["serial"];
        }

        if (values.count ("uid"))
        {
            const auto words = split (values["uid"], ',');

            if (words.size() != 4)
                throw Bad { "uid needs four words, as uid=1,2,3,4" };

            std::array<uint32_t, 4> w {};

            for (size_t i = 0; i < 4; ++i)
                w[i] = (uint32_t) number (words[i], 0, 0xFFFFFFFFLL, "uid");

            uid = w;
        }

        if (values.count ("version"))
            version = versionNumbers (values["version"], 3, "version");

        return [=] (DeviceModel& d)
        {
            if (serial)  d.setSerial (*serial);
            if (uid)     d.setUid (*uid);
            if (version) d.setFirmwareVersion ((*version)[0], (*version)[1], (*version)[2]);
        };
    }

    Action parseBattery (const Args& args)
    {
        auto values = keyValues (args, { "first", "second", "reference" });
        std::optional<uint16_t> first, second, reference;

        if (values.count ("first"))     first = (uint16_t) number (values["first"], 0, 0xFFFF, "first");
        if (values.count ("second"))    second = (uint16_t) number (values["second"], 0, 0xFFFF, "second");
        if (values.count ("reference")) reference = (uint16_t) number (values["reference"], 0, 0xFFFF, "reference");

        return [=] (DeviceModel& d)
        {
            // A reading that is not given keeps its value.
            if (first || second)
                d.setBattery (first.value_or (d.batteryFirst()), second.value_or (d.batterySecond()));

            if (reference)
                d.setBatteryReference (*reference);
        };
    }

    Action parseSlot (const Args& args)
    {
        if (args.empty())
            throw Bad { "expected a slot number 0..5" };

        const int slot = (int) number (args[0], 0, 5, "slot");
        auto values = keyValues (Args (args.begin() + 1, args.end()), { "name", "code", "version" });
        std::optional<std::string> name;
        std::optional<uint32_t> code;
        std::optional<std::array<int, 3>> version;

        if (values.count ("name"))
        {
            if (values["name"].size() > 32)
                throw Bad { "name longer than 32 characters" };

            name = values["name"];
        }

        if (values.count ("code"))      code = (uint32_t) number (values["code"], 0, 0xFFFFFFFFLL, "code");
        if (values.count ("version"))   version = versionNumbers (values["version"], 2, "version");

        return [=] (DeviceModel& d)
        {
            auto entry = d.slotEntry (slot);

            if (name)
            {
                entry.name.fill (0);
                std::copy (name->begin(), name->end(), entry.name.begin());
            }

            if (code)
                entry.code = *code;

            if (version)
            {
                entry.major = (uint8_t) (*version)[0];
                entry.minor = (uint8_t) (*version)[1];
            }

            d.setSlotEntry (slot, entry);
        };
    }

    bool onOff (const std::string& text)
    {
        if (text == "on")   return true;
        if (text == "off")  return false;
        throw Bad { "expected on or off, got '" + text + "'" };
    }

    //==============================================================================
    Action parseCommand (const std::string& command, const Args& args)
    {
        if (command == "plug")      { expectCount (args, 0); return [] (DeviceModel& d) { d.plug(); }; }
        if (command == "unplug")    { expectCount (args, 0); return [] (DeviceModel& d) { d.unplug(); }; }
        if (command == "identity")  return parseIdentity (args);
        if (command == "battery")   return parseBattery (args);
        if (command == "slot")      return parseSlot (args);

        if (command == "mode")
        {
            expectCount (args, 1);

            if (args[0] != "normal" && args[0] != "boot-loader")
                throw Bad { "expected normal or boot-loader, got '" + args[0] + "'" };

            const bool boot = args[0] == "boot-loader";
            return [=] (DeviceModel& d) { d.setBootLoaderMode (boot); };
        }

        if (command == "charge")
        {
            expectCount (args, 1);
            const auto state = (uint8_t) number (args[0], 0, 255, "charge");
            return [=] (DeviceModel& d) { d.setChargeState (state); };
        }

        if (command == "clock")
        {
            expectCount (args, 1);
            const auto seconds = (int32_t) number (args[0], INT32_MIN, INT32_MAX, "clock");
            return [=] (DeviceModel& d) { d.setDeviceClock (seconds); };
        }

        if (command == "log")
        {
            std::vector<uint32_t> words;

            for (const auto& a : args)
                words.push_back ((uint32_t) number (a, 0, 0xFFFFFFFFLL, "log word"));

            return [=] (DeviceModel& d) { d.setLogWords (words); };
        }

        if (command == "settings")
        {
            if (args.size() > 32)
                throw Bad { "settings takes at most 32 bytes" };

            std::array<uint8_t, 32> record {};

            for (size_t i = 0; i < args.size(); ++i)
            {
                const auto& a = args[i];
                const bool prefixed = a.size() > 2 && a[0] == '0' && (a[1] == 'x' || a[1] == 'X');
                record[i] = (uint8_t) number (prefixed ? a : "0x" + a, 0, 255, "settings byte");
            }

            return [=] (DeviceModel& d) { d.setSettings (record); };
        }

        if (command == "fail-checksum")
        {
            auto values = keyValues (args, { "block", "attempt" });

            if (values.size() != 2)
                throw Bad { "fail-checksum needs block= and attempt=" };

            const int block = (int) number (values["block"], 1, 255, "block");

            if (values["attempt"] == "every")
                return [=] (DeviceModel& d) { d.failChecksumAlways (block); };

            const int attempt = (int) number (values["attempt"], 1, 1000000, "attempt");
            return [=] (DeviceModel& d) { d.failChecksumOn (block, attempt); };
        }

        if (command == "slow-completion")
        {
            auto values = keyValues (args, { "reads", "ms" });
            const int reads = values.count ("reads") ? (int) number (values["reads"], 0, 1000000, "reads") : 0;
            const int ms = values.count ("ms") ? (int) number (values["ms"], 0, 100000000, "ms") : 0;
            return [=] (DeviceModel& d) { d.slowCompletion (reads, ms); };
        }

        if (command == "stray-reply")
        {
            expectCount (args, 1);
            const auto code = (uint8_t) number (args[0], 0, 255, "stray-reply");
            return [=] (DeviceModel& d) { d.strayReplyNext (code); };
        }

        if (command == "late-reply" || command == "short-reply")
        {
            const bool late = command == "late-reply";
            const std::string amountKey = late ? "reads" : "length";
            auto values = keyValues (args, { "command", amountKey });

            if (values.size() != 2)
                throw Bad { command + " needs command= and " + amountKey + "=" };

            const auto code = (uint8_t) number (values["command"], 0, 255, "command");
            const int amount = (int) number (values[amountKey], 0, late ? 1000000 : 64, amountKey);

            if (late)
                return [=] (DeviceModel& d) { d.lateReplyNext (code, amount); };

            return [=] (DeviceModel& d) { d.shortReplyNext (code, amount); };
        }

        if (command == "refuse-open")
        {
            expectCount (args, 1);
            const bool refuse = onOff (args[0]);
            return [=] (DeviceModel& d) { d.refuseOpen (refuse); };
        }

        if (command == "unplug-after-commands")
        {
            expectCount (args, 1);
            const int n = (int) number (args[0], 0, 100000000, "unplug-after-commands");
            return [=] (DeviceModel& d) { d.unplugAfterCommands (n); };
        }

        if (command == "unplug-after-block")
        {
            expectCount (args, 1);
            const int block = (int) number (args[0], -1, 255, "unplug-after-block");
            return [=] (DeviceModel& d) { d.unplugAfterBlock (block); };
        }

        if (command == "state-file")
        {
            expectCount (args, 1);
            const auto path = args[0];
            return [=] (DeviceModel& d) { d.setStateFile (path); };
        }

        if (command == "plug-file")
        {
            expectCount (args, 1);
            const auto path = args[0];
            return [=] (DeviceModel& d) { d.setPlugFile (path); };
        }

        if (command == "restart-delays")
        {
            expectCount (args, 2);
            const int detach = (int) number (args[0], 0, 100000000, "detach delay");
            const int attach = (int) number (args[1], 0, 100000000, "attach delay");
            return [=] (DeviceModel& d) { d.setRestartDelays (detach, attach); };
        }

        throw Bad { "unknown command '" + command + "'" };
    }
}

//==============================================================================
bool parseScenario (const std::string& text, std::vector<ScenarioStep>& steps, std::string& error)
{
    std::istringstream in (text);
    std::string line;
    int lineNumber = 0;

    while (std::getline (in, line))
    {
        ++lineNumber;

        if (auto hash = line.find ('#'); hash != std::string::npos)
            line.erase (hash);

        std::istringstream words (line);
        Args tokens;

        for (std::string w; words >> w;)
            tokens.push_back (w);

        if (tokens.empty())
            continue;

        try
        {
            ScenarioStep step;
            step.line = lineNumber;
            size_t first = 0;

            if (tokens[0] == "at")
            {
                if (tokens.size() < 3)
                    throw Bad { "expected 'at <ms> <command>'" };

                step.atMs = number (tokens[1], 0, (int64_t) 1 << 40, "at");
                first = 2;
            }

            step.apply = parseCommand (tokens[first], Args (tokens.begin() + (long) first + 1, tokens.end()));
            steps.push_back (std::move (step));
        }
        catch (const Bad& bad)
        {
            error = "line " + std::to_string (lineNumber) + ": " + bad.message;
            steps.clear();
            return false;
        }
    }

    return true;
}

} // namespace olvo::sim::detail
