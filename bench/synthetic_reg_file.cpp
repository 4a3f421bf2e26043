#include "synthetic_reg_file.h"

#include <fstream>
#include <memory>
#include <vector>

#include "repair/reg_export.h"
#include "synthetic_builder.h"

namespace quillary {
namespace {

// Value names programs use; a key that already holds one gets it with a number.
constexpr std::u16string_view kValueNames[] = {u"Path",
                                               u"InstallDir",
                                               u"Version",
                                               u"Language",
                                               u"LastUsed",
                                               u"Window Position",
                                               u"Flags",
                                               u"Count",
                                               u"Enabled",
                                               u"Theme",
                                               u"Recent",
                                               u"DataFile",
                                               u"Übersicht",
                                               u"名前",
                                               u"Größe",
                                               u"Name \"quoted\"",
                                               u"C:\\as\\a\\name",
                                               u"Ωmega",
                                               u"ServerURL",
                                               u"Timeout"};
constexpr std::u16string_view kSettingKeys[] = {
    u"Settings", u"Options", u"Recent File List", u"Toolbars", u"Profiles\\Default", u"Window"};

// Adds values to keys until the file holds as many as asked for.
class CRegFileContent {
public:
    CRegFileContent(std::uint64_t seed, std::uint64_t values)
        : builder_(seed, 1.0),
          machine_(std::make_unique<CRegistryNode>(u"", KeyOrder::LowerCase)),
          user_(std::make_unique<CRegistryNode>(u"", KeyOrder::LowerCase)),
          wanted_(values) {}

    void Build() {
        // A third in classes, the rest in program settings, some of them deep.
        AddClasses(wanted_ / 3);
        std::uint64_t program = 0;
        while (added_ < wanted_) {
            AddProgram(program++);
        }
    }

    CRegistryNode& Machine() { return *machine_; }
    CRegistryNode& User() { return *user_; }

private:
    bool Full() const { return added_ >= wanted_; }

    // COM classes with their servers, about four values each; GUIDs sorted so that each is
    // added at the end of the list of classes.
    void AddClasses(std::uint64_t values) {
        std::vector<std::u16string> guids;
        for (std::uint64_t i = 0; i < values / 4 + 1; ++i) {
            guids.push_back(builder_.Guid());
        }
        CRegistryNode& classes = builder_.Key(*machine_, u"Software\\Classes\\CLSID");
        for (const std::u16string& guid : SortedUnique(std::move(guids))) {
            if (Full()) {
                return;
            }
            CRegistryNode& key = builder_.Key(classes, guid);
            String(key, u"", Concat({builder_.Noun(), u" Class"}));
            CRegistryNode& server = builder_.Key(key, u"InprocServer32");
            String(server, u"", builder_.DllPath());
            String(server, u"ThreadingModel", builder_.Random().Pick(kThreadingModels));
            if (builder_.Random().Percent(30)) {
                String(builder_.Key(key, u"ProgID"), u"",
                       Concat({builder_.Product(), u".", builder_.Noun(), u".1"}));
            }
        }
    }

    // A program's settings below its vendor, in the user's or the machine's branch; one in
    // twenty has a tree of nested keys 8 to 24 levels deep.
    void AddProgram(std::uint64_t number) {
        CRandom& random = builder_.Random();
        CRegistryNode& root = random.Percent(60) ? *user_ : *machine_;
        CRegistryNode& program =
            builder_.Key(root, Concat({u"Software\\", builder_.Vendor(), u"\\", builder_.Product(),
                                       u" ", Number(number)}));
        AddValues(program, random.Between(2, 5));
        const std::size_t settings = random.Between(2, 6);
        for (std::size_t i = 0; i < settings && !Full(); ++i) {
            AddValues(builder_.Key(program, random.Pick(kSettingKeys)), random.Between(1, 6));
        }
        if (random.Percent(5)) {
            CRegistryNode* level = &program;
            const std::size_t depth = random.Between(8, 24);
            for (std::size_t i = 0; i < depth && !Full(); ++i) {
                level =
                    &builder_.Key(*level, Concat({u"Level ", Number(i), u" ", builder_.Noun()}));
                AddValues(*level, random.Between(1, 3));
            }
        }
    }

    void AddValues(CRegistryNode& key, std::size_t count) {
        CRandom& random = builder_.Random();
        if (random.Percent(15) && !Full()) {
            String(key, u"", builder_.Noun());
        }
        for (std::size_t i = 0; i < count && !Full(); ++i) {
            std::u16string name(random.Pick(kValueNames));
            if (key.FindValue(name) != nullptr) {
                name += Concat({u" ", Number(key.Values().size())});
            }
            const std::size_t before = key.Values().size();
            AddValue(key, name);
            added_ += key.Values().size() - before;
        }
    }

    // A value of each type in about the share real settings have.
    void AddValue(CRegistryNode& key, std::u16string_view name) {
        CRandom& random = builder_.Random();
        const std::size_t pick = random.Below(100);
        if (pick < 36) {
            CSyntheticBuilder::String(
                key, name,
                random.Percent(10) ? Concat({builder_.Vendor(), u" \"", builder_.Noun(), u"\""})
                                   : builder_.DllPath());
        } else if (pick < 56) {
            CSyntheticBuilder::Dword(key, name, static_cast<std::uint32_t>(random.Next()));
        } else if (pick < 68) {
            builder_.RandomBytes(key, name, RegBinary, random.Between(1, 300));
        } else if (pick < 76) {
            CSyntheticBuilder::String(key, name,
                                      Concat({u"%ProgramFiles%\\", builder_.Vendor(), u"\\",
                                              builder_.Identifier(4, 9), u".exe"}),
                                      RegExpandSz);
        } else if (pick < 84) {
            std::u16string list =
                Concat({builder_.DllPath(), std::u16string(1, u'\0'), builder_.Noun()});
            list += u'\0';
            key.SetValue(name, RegMultiSz, ToUtf16LeBytes(list, true));
        } else if (pick < 92) {
            builder_.RandomBytes(key, name, RegQword, 8);
        } else if (pick < 96) {
            builder_.RandomBytes(key, name, RegNone, random.Below(4));
        } else {
            // Types a program defines for itself, and big-endian DWORDs.
            builder_.RandomBytes(key, name, random.Percent(50) ? RegDwordBigEndian : 0x100, 4);
        }
    }

    void String(CRegistryNode& key, std::u16string_view name, std::u16string_view text,
                RegType type = RegSz) {
        const std::size_t before = key.Values().size();
        CSyntheticBuilder::String(key, name, text, type);
        added_ += key.Values().size() - before;
    }

    CSyntheticBuilder builder_;
    std::unique_ptr<CRegistryNode> machine_;
    std::unique_ptr<CRegistryNode> user_;
    std::uint64_t wanted_;
    std::uint64_t added_ = 0;
};

// Writes the text as UTF-16LE a large piece at a time, counting what it writes.
class CRegFileWriter {
public:
    explicit CRegFileWriter(const std::filesystem::path& file)
        : stream_(file, std::ios::binary | std::ios::trunc) {
        static constexpr char kByteOrderMark[] = {'\xFF', '\xFE'};
        stream_.write(kByteOrderMark, sizeof kByteOrderMark);
        Append(u"Windows Registry Editor Version 5.00\r\n");
    }

    // The keys below node, depth first, each with its values.
    void WriteTree(const CRegistryNode& node, const std::u16string& path,
                   SyntheticRegFileSize& size) {
        std::vector<std::pair<const CRegistryNode*, std::u16string>> pending = {{&node, path}};
        while (!pending.empty()) {
            auto [key, keyPath] = std::move(pending.back());
            pending.pop_back();
            Append(u"\r\n[");
            Append(keyPath);
            Append(u"]\r\n");
            ++size.keys;
            for (const RegValue& value : key->Values()) {
                Append(CRegExport::FormatValue(value.name, value.type, value.data));
                ++size.values;
            }
            for (std::size_t i = key->ChildCount(); i-- > 0;) {
                pending.emplace_back(key->ChildAt(i), keyPath + u"\\" + key->ChildAt(i)->Name());
            }
        }
    }

    bool Finish(SyntheticRegFileSize& size) {
        Flush();
        stream_.close();
        size.bytes = written_;
        return !stream_.fail();
    }

private:
    void Append(std::u16string_view text) {
        for (char16_t unit : text) {
            bytes_.push_back(static_cast<char>(unit & 0xFF));
            bytes_.push_back(static_cast<char>(unit >> 8));
        }
        if (bytes_.size() >= (std::size_t{1} << 20)) {
            Flush();
        }
    }

    void Flush() {
        stream_.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
        written_ += bytes_.size();
        bytes_.clear();
    }

    std::ofstream stream_;
    std::vector<char> bytes_;
    std::uint64_t written_ = 2;  // the byte-order mark
};

}  // namespace

bool WriteSyntheticRegFile(const std::filesystem::path& file, std::uint64_t values,
                           std::uint64_t seed, SyntheticRegFileSize* size, std::string* error) {
    CRegFileContent content(seed, values);
    content.Build();
    // Written aside and renamed, so that a file cut short is never taken for a finished one.
    std::filesystem::path partial = file;
    partial += ".partial";
    CRegFileWriter writer(partial);
    *size = {};
    // The keys of the two branches; the branches' own roots are not written.
    for (std::size_t i = 0; i < content.Machine().ChildCount(); ++i) {
        const CRegistryNode& child = *content.Machine().ChildAt(i);
        writer.WriteTree(child, u"HKEY_LOCAL_MACHINE\\" + child.Name(), *size);
    }
    for (std::size_t i = 0; i < content.User().ChildCount(); ++i) {
        const CRegistryNode& child = *content.User().ChildAt(i);
        writer.WriteTree(child, u"HKEY_CURRENT_USER\\" + child.Name(), *size);
    }
    std::error_code renameError;
    if (!writer.Finish(*size) ||
        (std::filesystem::rename(partial, file, renameError), renameError)) {
        *error = "cannot write " + file.string();
        return false;
    }
    return true;
}

}  // namespace quillary
