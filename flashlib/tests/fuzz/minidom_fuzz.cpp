// Loads arbitrary bytes as a container document and walks and reads what it finds the way the
// container does.
#include "minidom.hpp"
#include "numbers.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kq::flashlib;
    CminiDOM dom;
    _mDOM_xmlDoc* doc = dom.LoadMemory(reinterpret_cast<const char*>(data), size);
    if (doc == nullptr) {
        return 0;
    }
    std::wstring value;
    dom.GetAttribute(dom.FindElement(doc, "FLASHCONTAINER"), "CONTAINER_VER", value);
    const _mDOM_xmlNode* element = dom.FindPath(doc, "FLASHCONTAINER/FLASHELEMENT");
    dom.GetAttribute(element, "PRODUCT_NAME", value);
    dom.GetText(dom.FindPath(doc, "FLASHCONTAINER/FLASHELEMENT/HEX"), value);
    for (const auto* child = dom.FirstElementChild(dom.FindPath(doc, "FLASHCONTAINER/FLASHELEMENT/UART_OPTIONS"));
         child != nullptr; child = dom.NextElementSibling(child)) {
        dom.GetText(child, value);
        dom.NodeName(child);
        kq::flashlib::detail::ReadHex(value);
        kq::flashlib::detail::ReadDecimal(value);
        kq::flashlib::detail::ReadDouble(value);
    }
    dom.FreeDoc(doc);
    return 0;
}
