#pragma once

// "Firmware update": the update index names, per product, the firmware releases and the hardware they fit;
// the newest release that fits the connected device and is newer than its firmware is downloaded as a
// flash container, checked against the device, stamped with the device's identity, signed and flashed.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <device/device_dialog.hpp>
#include <flashlib/version.hpp>

namespace torvik::studio {

/// One release of the update index.
struct CUpdate {
    kq::flashlib::Version fw;
    kq::flashlib::Version min_hw;
    kq::flashlib::Version max_hw;
    std::string file_name;  ///< the container, relative to the directory of the index's address
};

struct UpdateProduct {
    std::string code;  ///< uppercase hexadecimal without prefix, compared as text
    std::string name;
    std::vector<CUpdate> updates;
};

struct UpdateIndex {
    std::string container_ver;
    std::string schema_location;
    std::string xmlns_xsi;
    std::vector<UpdateProduct> products;
};

/// How reading the index went; `problems` are the lines to report (products and updates that cannot be
/// read), `error` the line when the file as a whole cannot be used.
struct UpdateIndexReading {
    enum class Status { Ok, CannotOpen, CannotParse, BadEntries } status = Status::Ok;
    std::string detail;                 ///< the reader's reason (where and why)
    std::vector<std::string> problems;  ///< one line per product or update that cannot be read
};

/// Reads the update index in `file` (a file that cannot be read gives CannotOpen).
UpdateIndexReading ReadUpdateIndex(const std::filesystem::path& file, UpdateIndex& index);
/// Reads an update index from its text.
UpdateIndexReading ReadUpdateIndexText(std::string_view text, UpdateIndex& index);

/// The release for a device: of the product whose code text equals `productCode` in "%X" form, among the
/// releases whose hardware range holds `hw`, the newest firmware above `fw`. `product` tells whether the
/// product is known, `fits` whether any release fits the hardware.
std::optional<CUpdate> ChooseUpdate(const UpdateIndex& index, int productCode, const kq::flashlib::Version& hw,
                                    const kq::flashlib::Version& fw, bool& product, bool& fits);

/// The address of a release's container: the index's address up to its last '/', then the file name.
std::string ContainerAddress(const std::string& indexAddress, const std::string& fileName);

/// Forgets the index and the containers downloaded in this program run (tests).
void ForgetDownloadedUpdates();

class CFlashDialog : public CDeviceDialogBase {
public:
    using CDeviceDialogBase::CDeviceDialogBase;
    ~CFlashDialog() override;

    /// The run ended because the device's firmware is the newest there is.
    bool up_to_date() const { return up_to_date_; }

protected:
    bool Run() override;

private:
    bool ReportIdentity();
    bool DownloadIndex();
    bool OpenIndex();
    bool Choose();
    bool DownloadContainer();
    bool OpenDownloadedContainer();
    bool CheckAndAsk();
    bool AdjustHex();
    bool Flash();
    /// Downloads `address` into a new temporary file; the file, or empty and why.
    std::filesystem::path Fetch(const std::string& address, const char* kind, std::string& reason);

    std::optional<CUpdate> update_;
    std::filesystem::path container_file_;
    std::unique_ptr<kq::flashlib::CFlashContainer> update_container_;
    bool up_to_date_ = false;
};

}  // namespace torvik::studio
