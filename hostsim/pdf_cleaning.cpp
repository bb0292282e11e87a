#include "hostsim/pdf_cleaning.h"

#include <qpdf/QPDFObjGen.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <set>
#include <string>
#include <utility>

namespace hostsim {
namespace {

// Catalog entries removed from every masked copy.
const char* const kCatalogRemovals[] = {
    "/Metadata",   "/Outlines", "/StructTreeRoot", "/MarkInfo",  "/AcroForm", "/AA",
    "/PieceInfo",  "/Threads",  "/SpiderInfo",     "/Perms",     "/DSS",      "/AF",
    "/Collection", "/Legal",    "/Requirements",   "/OpenAction"};
// Name trees of the catalog's /Names removed from every masked copy.
const char* const kNameTreeRemovals[] = {"/EmbeddedFiles", "/JavaScript", "/AlternatePresentations",
                                         "/Templates",     "/Pages",      "/IDS",
                                         "/URLS",          "/Renditions"};
// Keys removed from every dictionary and stream of the file: metadata,
// private data, scripts and the actions that run them, associated files,
// links into the structure tree, and a page's thumbnail and article beads.
const char* const kEverywhereRemovals[] = {"/Metadata", "/PieceInfo",    "/AA",
                                           "/JS",       "/SD",           "/AF",
                                           "/Fields",   "/StructParent", "/StructParents"};
const char* const kPageRemovals[] = {"/Thumb", "/B"};

bool IsPageTreeNode(QPDFObjectHandle object) {
  if (!object.isDictionary()) return false;
  QPDFObjectHandle type = object.getKey("/Type");
  return type.isNameAndEquals("/Page") || type.isNameAndEquals("/Pages");
}

// Calls `visit` on every dictionary (a stream's included) held in `root`,
// directly or in arrays and dictionaries within it, without following
// references to other objects.
template <typename Visit>
void ForEachDirectDictionary(const QPDFObjectHandle& root, Visit&& visit) {
  std::vector<QPDFObjectHandle> stack{root};
  bool first = true;
  while (!stack.empty()) {
    QPDFObjectHandle object = stack.back();
    stack.pop_back();
    if (!first && object.isIndirect()) continue;
    first = false;
    QPDFObjectHandle dictionary = object.isStream() ? object.getDict() : object;
    if (dictionary.isDictionary()) {
      visit(dictionary);
      for (auto& item : dictionary.ditems()) stack.push_back(item.second);
    } else if (dictionary.isArray()) {
      for (auto& item : dictionary.aitems()) stack.push_back(item);
    }
  }
}

void RemoveFromDocument(QPDF& qpdf) {
  QPDFObjectHandle trailer = qpdf.getTrailer();
  trailer.removeKey("/Info");
  QPDFObjectHandle catalog = qpdf.getRoot();
  // An opening action is kept when it only goes to a place in the document.
  QPDFObjectHandle opening = catalog.getKey("/OpenAction");
  const bool goesToPlace = opening.isArray() || (opening.isDictionary() &&
                                                 opening.getKey("/S").isNameAndEquals("/GoTo"));
  QPDFObjectHandle keptOpening = goesToPlace ? opening : QPDFObjectHandle::newNull();
  for (const char* key : kCatalogRemovals) catalog.removeKey(key);
  if (!keptOpening.isNull()) catalog.replaceKey("/OpenAction", keptOpening);
  QPDFObjectHandle names = catalog.getKey("/Names");
  if (names.isDictionary()) {
    for (const char* key : kNameTreeRemovals) names.removeKey(key);
  }
  // A viewer asked to open on the outlines or attachments opens on the pages.
  QPDFObjectHandle mode = catalog.getKey("/PageMode");
  if (mode.isNameAndEquals("/UseOutlines") || mode.isNameAndEquals("/UseAttachments")) {
    catalog.removeKey("/PageMode");
  }
}

void RemoveEverywhere(QPDF& qpdf) {
  for (const QPDFObjectHandle& object : qpdf.getAllObjects()) {
    ForEachDirectDictionary(object, [](QPDFObjectHandle dictionary) {
      for (const char* key : kEverywhereRemovals) dictionary.removeKey(key);
      if (dictionary.getKey("/Type").isNameAndEquals("/Page")) {
        for (const char* key : kPageRemovals) dictionary.removeKey(key);
      }
      // A hide action names the annotations or fields it hides.
      if (dictionary.getKey("/S").isNameAndEquals("/Hide")) dictionary.removeKey("/T");
    });
  }
}

// A kept page loses its file attachments; its widgets stay as they look but
// leave the form, whose field tree reaches the widgets of other pages.
void DetachAnnotations(QPDFObjectHandle page) {
  QPDFObjectHandle annots = page.getKey("/Annots");
  if (!annots.isArray()) return;
  QPDFObjectHandle kept = QPDFObjectHandle::newArray();
  for (QPDFObjectHandle& annotation : annots.aitems()) {
    if (annotation.isDictionary()) {
      if (annotation.getKey("/Subtype").isNameAndEquals("/FileAttachment")) continue;
      if (annotation.getKey("/Subtype").isNameAndEquals("/Widget")) {
        annotation.removeKey("/Parent");
      }
    }
    kept.appendItem(annotation);
  }
  page.replaceKey("/Annots", kept);
}

// The objects that a page's content, resources and annotations reach,
// without going into other pages, the page tree or an annotation's parent
// (a form field, or the annotation a pop-up belongs to).
void Reach(QPDFObjectHandle page, std::set<QPDFObjGen>& reached) {
  std::vector<QPDFObjectHandle> stack;
  for (auto& item : page.ditems()) {
    if (item.first != "/Parent") stack.push_back(item.second);
  }
  while (!stack.empty()) {
    QPDFObjectHandle object = stack.back();
    stack.pop_back();
    if (object.isIndirect() && !reached.insert(object.getObjGen()).second) continue;
    QPDFObjectHandle dictionary = object.isStream() ? object.getDict() : object;
    if (dictionary.isDictionary()) {
      if (IsPageTreeNode(dictionary)) {
        if (object.isIndirect()) reached.erase(object.getObjGen());
        continue;
      }
      for (auto& item : dictionary.ditems()) {
        if (item.first != "/Parent") stack.push_back(item.second);
      }
    } else if (dictionary.isArray()) {
      for (auto& item : dictionary.aitems()) stack.push_back(item);
    }
  }
}

// Whether the page's resources name an image or form XObject among `objects`.
bool ListsXObjectOf(QPDFObjectHandle page, const std::set<QPDFObjGen>& objects) {
  QPDFObjectHandle resources = page.getKey("/Resources");
  if (!resources.isDictionary()) return false;
  QPDFObjectHandle xobjects = resources.getKey("/XObject");
  if (!xobjects.isDictionary()) return false;
  for (auto& item : xobjects.ditems()) {
    if (item.second.isIndirect() && objects.count(item.second.getObjGen()) != 0) return true;
  }
  return false;
}

}  // namespace

void RemoveWhatCouldCarryContent(QPDF& qpdf, const std::vector<PdfPage>& pages,
                                 const std::vector<bool>& masked) {
  RemoveFromDocument(qpdf);
  RemoveEverywhere(qpdf);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (!masked[i]) DetachAnnotations(pages[i].object);
  }
  std::set<QPDFObjGen> fromMasked;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (masked[i]) Reach(pages[i].object, fromMasked);
  }
  // Reading a page's content is slow: only kept pages that list an image or
  // form that a masked page reaches are looked at.
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (!masked[i] && ListsXObjectOf(pages[i].object, fromMasked)) {
      QPDFPageObjectHelper(pages[i].object).removeUnreferencedResources();
    }
  }
  std::set<QPDFObjGen> fromKept;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (!masked[i]) Reach(pages[i].object, fromKept);
  }
  for (const QPDFObjGen& object : fromMasked) {
    if (fromKept.count(object) == 0) qpdf.replaceObject(object, QPDFObjectHandle::newNull());
  }
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (!masked[i]) continue;
    QPDFObjectHandle page = pages[i].object;
    for (const std::string& key : page.getKeys()) {
      if (key != "/Parent") page.removeKey(key);
    }
  }
}

}  // namespace hostsim
