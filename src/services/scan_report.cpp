#include "services/scan_report.h"

#include <libxml/xmlwriter.h>

#include <cstdint>
#include <memory>
#include <span>

#include "core/registry_access.h"
#include "core/text_encoding.h"
#include "engine/category_table.h"

namespace quillary {
namespace {

constexpr char16_t kReplacementCharacter = u'\uFFFD';

// The character XML 1.0 allows in text, or a replacement: registry data may hold anything,
// and one stray unit must not make the whole report unreadable. A valid surrogate pair is
// kept; Utf16ToUtf8 turns a lone surrogate into U+FFFD.
std::u16string XmlCharacters(std::u16string_view text) {
    static constexpr char16_t kHexDigits[] = u"0123456789abcdef";
    std::u16string safe;
    safe.reserve(text.size());
    for (char16_t unit : text) {
        if (unit < 0x20 && unit != u'\t' && unit != u'\n' && unit != u'\r') {
            safe += u"\\x";
            safe += kHexDigits[unit >> 4];
            safe += kHexDigits[unit & 0xF];
        } else if (unit == 0xFFFE || unit == 0xFFFF) {
            safe += kReplacementCharacter;
        } else {
            safe += unit;
        }
    }
    return safe;
}

// UTF-8 text a well-formed document can hold, NUL-terminated as the writer wants it.
std::string XmlText(std::u16string_view text) {
    return Utf16ToUtf8(XmlCharacters(text));
}

const xmlChar* XmlString(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

// An XML writer onto a memory buffer. Each call returns false once a writer step has failed
// and names the first step that failed, so that a caller can chain calls with && and report
// where the document broke off.
class CReportWriter {
public:
    CReportWriter() : buffer_(xmlBufferCreate()) {
        if (buffer_ == nullptr) {
            failedStep_ = "creating the document buffer";
            return;
        }
        writer_ = xmlNewTextWriterMemory(buffer_, 0);
        if (writer_ == nullptr)
            failedStep_ = "creating the XML writer";
    }
    ~CReportWriter() {
        if (writer_ != nullptr)
            xmlFreeTextWriter(writer_);
        if (buffer_ != nullptr)
            xmlBufferFree(buffer_);
    }
    CReportWriter(const CReportWriter&) = delete;
    CReportWriter& operator=(const CReportWriter&) = delete;

    bool StartDocument() {
        return Check(xmlTextWriterSetIndent(writer_, 1), "SetIndent") &&
               Check(xmlTextWriterSetIndentString(writer_, XmlString("  ")), "SetIndentString") &&
               // No standalone declaration.
               Check(xmlTextWriterStartDocument(writer_, "1.0", "UTF-8", nullptr), "StartDocument");
    }
    bool StartElement(const char* name) {
        return Check(xmlTextWriterStartElement(writer_, XmlString(name)), "StartElement", name);
    }
    bool Attribute(const char* name, std::u16string_view value) {
        return Check(xmlTextWriterWriteAttribute(writer_, XmlString(name),
                                                 XmlString(XmlText(value).c_str())),
                     "WriteAttribute", name);
    }
    // Closes the open element with an end tag, even when it holds nothing.
    bool FullEndElement(const char* name) {
        return Check(xmlTextWriterFullEndElement(writer_), "FullEndElement", name);
    }
    // An element holding one text.
    bool TextElement(const char* name, std::u16string_view text) {
        return StartElement(name) &&
               Check(xmlTextWriterWriteString(writer_, XmlString(XmlText(text).c_str())),
                     "WriteString", name) &&
               FullEndElement(name);
    }
    // A whitespace node of one line break after a closing tag. The writer stops indenting
    // after text of its caller's; turning indentation on again keeps the following tags
    // indented.
    bool LineBreak() {
        return Check(xmlTextWriterWriteRaw(writer_, XmlString("\n")), "WriteWhitespace") &&
               Check(xmlTextWriterSetIndent(writer_, 1), "SetIndent");
    }
    bool EndDocument() {
        return Check(xmlTextWriterEndDocument(writer_), "EndDocument") &&
               Check(xmlTextWriterFlush(writer_), "Flush");
    }

    // The document written so far.
    std::string Document() const {
        return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer_)),
                           static_cast<std::size_t>(xmlBufferLength(buffer_)));
    }
    const std::string& FailedStep() const { return failedStep_; }

private:
    // libxml2's writer calls return a negative number on failure.
    bool Check(int result, const char* step, const char* element = nullptr) {
        if (!failedStep_.empty())
            return false;
        if (result < 0) {
            failedStep_ = step;
            if (element != nullptr)
                failedStep_ += std::string(" of ") + element;
        }
        return failedStep_.empty();
    }

    xmlBufferPtr buffer_ = nullptr;
    xmlTextWriterPtr writer_ = nullptr;
    std::string failedStep_;
};

bool WriteHeader(CReportWriter& writer, const ScanReportSource& source) {
    return writer.StartElement("KVLscanlog") &&
           writer.TextElement("KVLVERSION", source.programVersion) &&
           writer.TextElement("ScanningDate", source.settings.StrLastScan) &&
           writer.TextElement("TotalErrorsFound", source.settings.LastScanProblemCount) &&
           writer.LineBreak();
}

// "1 problem", "2 problems": the count and the language's word for it.
std::u16string ProblemCountText(const ScanReportSource& source, std::size_t count) {
    std::u16string text = Utf8ToUtf16(std::to_string(count));
    text += u' ';
    text += source.language ? source.language(count == 1 ? u"IDS_ERROR" : u"IDS_ERRORS")
                            : std::u16string();
    return text;
}

bool WriteProblem(CReportWriter& writer, const ScanReportSource& source, const CProblem& problem) {
    return writer.StartElement("EntryDetails") &&
           writer.TextElement("Entry", problem.DetailLine(0)) && writer.LineBreak() &&
           writer.TextElement("Details", source.texts.DetailText(problem)) &&
           writer.FullEndElement("EntryDetails") && writer.LineBreak();
}

bool WriteCategory(CReportWriter& writer, const ScanReportSource& source, const CategoryRow& row,
                   std::span<const std::unique_ptr<CProblem>> problems) {
    const auto index = static_cast<std::size_t>(row.index);
    if (!(writer.StartElement("Scanning") &&
          writer.Attribute("Section", source.texts.CategoryName(index)) &&
          writer.TextElement("Description", source.texts.CategoryBriefDescription(index)) &&
          writer.TextElement("ErrorsInThisSection", ProblemCountText(source, problems.size())) &&
          writer.LineBreak())) {
        return false;
    }
    for (const auto& problem : problems) {
        if (!WriteProblem(writer, source, *problem))
            return false;
    }
    return writer.FullEndElement("Scanning") && writer.LineBreak();
}

bool WriteDocument(CReportWriter& writer, const ScanReportSource& source) {
    if (!(writer.StartDocument() && WriteHeader(writer, source)))
        return false;
    // In category index order, whatever order the categories were scanned in.
    for (const CategoryRow& row : kCategories) {
        std::span<const std::unique_ptr<CProblem>> problems = source.scans.ProblemsOf(row.bit);
        if (!problems.empty() && !WriteCategory(writer, source, row, problems))
            return false;
    }
    return writer.FullEndElement("KVLscanlog") && writer.EndDocument();
}

}  // namespace

FileError BuildScanReport(const ScanReportSource& source, std::string& document) {
    document.clear();
    CReportWriter writer;
    if (!writer.FailedStep().empty() || !WriteDocument(writer, source))
        return "cannot make the scan report: the XML writer failed at " + writer.FailedStep();
    document = writer.Document();
    return std::nullopt;
}

FileError WriteScanReport(IFileIo& files, const std::filesystem::path& path,
                          const ScanReportSource& source) {
    std::string document;
    if (FileError failure = BuildScanReport(source, document))
        return failure;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(document.data());
    return files.ReplaceFileAtomically(path, std::span(bytes, document.size()));
}

std::u16string ReadReportRecipient(IRegistry& configStore) {
    ConfigKey key(configStore, HKeyCurrentUser);
    key.SetAccessMask(kMaskReadOnly);
    std::u16string recipient;
    if (key.Open(HKeyCurrentUser, kSettingsKeyPath, false))
        key.ReadString(kReportRecipientValueName, recipient);
    return recipient;
}

bool StoreReportRecipient(IRegistry& configStore, std::u16string_view recipient) {
    ConfigKey key(configStore, HKeyCurrentUser);
    return key.Open(HKeyCurrentUser, kSettingsKeyPath, true) &&
           key.WriteString(kReportRecipientValueName, recipient);
}

}  // namespace quillary
