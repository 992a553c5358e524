#pragma once

#include <memory>
#include <string>
#include <vector>

#include <flashlib/connect_options.hpp>
#include <flashlib/export.hpp>
#include <flashlib/flash_hex_file.hpp>
#include <flashlib/process_runner.hpp>
#include <flashlib/version.hpp>

namespace kq::flashlib {

/// Where and why a container's HEX text is not a sound HEX file.
struct FlashHexProblem {
    int line = 0;        ///< the line of the HEX text, from 1; 0 when the problem is not one line's
    std::string reason;
};

class CminiDOM;
struct _mDOM_xmlDoc;
struct _mDOM_xmlNode;

/// One flag per flash sector (index = sector number); nonzero = erase.
using EraseBlockFlags = int[128];

/// A firmware release file (.fkq): an XML document carrying the firmware as Intel HEX text and the
/// facts needed to decide whether and how it may be flashed. Not copyable or movable (its HexFile
/// points back to it). Not thread-safe; use from one thread.
class KQ_FLASHLIB_API CFlashContainer {
public:
    /// The container's HEX file: the firmware text with the device identity patched in, then signed.
    class KQ_FLASHLIB_API HexFile : public CFlashHexFile {
    public:
        /// Copies the container's HEX text, record by record, into the temporary file, writing the
        /// serial number, product code and hardware version into the fields that FlashFileInfo places
        /// (LENGTH 16 only; the firmware version field is never touched). Every run starts at upper
        /// address 0. Returns 0, -240/-241 no scratch file, -242 cannot open the output, or the record
        /// reader's or writer's code (-5 empty line, -3 malformed line, -6 bad checksum, -1 I/O error).
        int ModifyHEX() override;
        /// Runs QuenbyFlashUtility from the directory of the running program on the temporary file and
        /// waits for it. Returns its exit status (0 = signed), 65535 when it cannot be formed or started.
        int CreateCRC() override;
        ~HexFile() override;

        /// Replaces the runner that starts the signature tool (tests).
        void set_process_runner(std::shared_ptr<ProcessRunner> runner);

    protected:
        friend class CFlashContainer;
        explicit HexFile(CFlashContainer* container);
        /// Copies the identity field positions from the container.
        virtual HexFile& _init();
        /// Forms the command once; returns whether it is ready.
        bool InitExecutableCommand();

    private:
        FlashFileInfo info_{};
        CFlashContainer& container_;
        std::vector<std::string> command_;
        bool command_ready_ = false;
        std::shared_ptr<ProcessRunner> runner_;
    };

    explicit CFlashContainer(const std::wstring& path);
    ~CFlashContainer();
    CFlashContainer(const CFlashContainer&) = delete;
    CFlashContainer& operator=(const CFlashContainer&) = delete;

    /// Loads the document and reads CONTAINER_VER into `version`. Returns 1 when the document loaded
    /// (`version` unchanged when CONTAINER_VER is absent), -1 when it cannot be loaded, -2 when
    /// CONTAINER_VER holds no '.' or is not a number.
    int OpenContainer(Version& version);
    /// Why the last OpenContainer returned -1: the system's reason, or where the XML reader stopped
    /// and why ("line 9, column 1: element <FLASHCONTAINER> is not closed").
    const std::string& GetLoadError() const;
    /// Reads every value; 0 when all parts succeeded, negative otherwise.
    int ParseValues();

    const Version& GetFWVer() const;
    const Version& GetHWVerMax() const;
    const Version& GetHWVerMin() const;
    int GetProductCode() const;
    const std::wstring& GetProductName() const;
    EraseBlockFlags& GetEraseBlocks();
    const EraseBlockFlags& GetEraseBlocks() const;
    bool IsEraseBlockDefined() const;
    /// Alternative product codes read by ParseValues (no check consults them).
    const std::vector<int>& alternative_product_codes() const;
    const std::wstring& path() const;

    /// True when MIN_HW_VER <= version <= MAX_HW_VER.
    bool checkHwVer(const Version& version) const;
    /// True when bits 15-8 of `code` equal those of the container's product code.
    bool CheckAltDestProductCode(int code) const;

    /// Copies the HEX text into `buffer` (at most `size` characters including the terminator, always
    /// terminated) and returns twice the number of characters of the whole text including its
    /// terminator; with no buffer or size 0 only returns that number; 0 when there is no HEX element.
    int GetFlashElementHex(wchar_t* buffer, int size) const;
    /// Checks the HEX text as a whole file: every line a valid record, an end record last. True when it
    /// is sound; otherwise `problem` says on which line of the HEX text and why. A firmware image that
    /// fails here is damaged or cut short and must not be programmed.
    bool CheckFlashElementHex(FlashHexProblem& problem) const;
    /// Fills the identity field positions from DEVICE_VERSION_INFO. Returns (children stored) - 4, so
    /// 0 when all four were given; -4 when the element or its children are missing. A field without
    /// START_BYTE or LENGTH is stored with length 0, which makes it inapplicable.
    int GetFlashFileInfo(FlashFileInfo& info) const;
    /// Applies UART_OPTIONS to `options`; fields without a usable value are left as they are. Always 0.
    int LoadOptions(fm_connectoptions_com& options) const;
    /// The container's HEX file, with the identity positions copied from the container.
    CFlashHexFile& GetFlashHexFile();

protected:
    int ParseFWVer();
    int ParseHWVerMax();
    int ParseHWVerMin();
    int ParseProductCode();
    int ParseProductName();
    int ParseEraseBlocks();
    int ParseAlternativeProducts();
    int ParseVersionInfo(const _mDOM_xmlNode* node, FlashFileInfo& info) const;

private:
    int ParseVersionAttribute(const char* name, Version& into);

    std::wstring path_;
    Version fw_ver_;
    Version hw_ver_max_;
    Version hw_ver_min_;
    int product_code_ = 0;
    std::wstring product_name_;
    std::vector<int> alternative_codes_;
    EraseBlockFlags erase_blocks_ = {};
    bool erase_blocks_defined_ = false;
    std::unique_ptr<CminiDOM> dom_;
    std::string load_error_;
    _mDOM_xmlDoc* doc_ = nullptr;
    HexFile hex_file_;
};

}  // namespace kq::flashlib
