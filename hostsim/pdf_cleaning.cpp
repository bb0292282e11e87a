#include "hostsim/pdf_cleaning.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <qpdf/QPDFNameTreeObjectHelper.hh>
#include <qpdf/QPDFNumberTreeObjectHelper.hh>
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
// An annotation's /IRT (the one it replies to) may lead to a comment on a
// masked page.
const char* const kEverywhereRemovals[] = {
    "/Metadata",     "/PieceInfo",     "/AA", "/JS", "/SD", "/AF", "/Fields",
    "/StructParent", "/StructParents", "/IRT"};
// The kinds of resources a page's resource dictionary names.
const char* const kResourceKinds[] = {"/Font",    "/XObject",    "/ExtGState", "/Pattern",
                                      "/Shading", "/ColorSpace", "/Properties"};
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

// Whether the page's resources name an object among `objects`.
bool ListsResourceOf(QPDFObjectHandle page, const std::set<QPDFObjGen>& objects) {
  QPDFObjectHandle resources = page.getKey("/Resources");
  if (!resources.isDictionary()) return false;
  for (const char* kind : kResourceKinds) {
    QPDFObjectHandle named = resources.getKey(kind);
    if (!named.isDictionary()) continue;
    for (auto& item : named.ditems()) {
      if (item.second.isIndirect() && objects.count(item.second.getObjGen()) != 0) return true;
    }
  }
  return false;
}

// Every name a page's content gives as an operand: the resources it uses
// are among them. Read with qpdf's content parser.
class NamesInContent : public QPDFObjectHandle::ParserCallbacks {
 public:
  void handleObject(QPDFObjectHandle object) override { Collect(object); }
  void handleEOF() override {}
  const std::set<std::string>& names() const { return names_; }

 private:
  void Collect(QPDFObjectHandle object) {
    if (object.isName()) {
      names_.insert(object.getName());
    } else if (object.isArray()) {
      for (const auto& item : object.aitems()) Collect(item);
    } else if (object.isDictionary()) {
      for (const auto& item : object.ditems()) Collect(item.second);
    }
  }
  std::set<std::string> names_;
};

// What identifies a page's resources and content: pages that share them
// (copies of one page, whose inherited resources were pushed down to each)
// share the result of reading them. Nothing where the content is not
// made of objects of its own.
using ResourceUse = std::pair<std::string, std::vector<QPDFObjGen>>;

std::optional<ResourceUse> ResourceUseOf(QPDFObjectHandle page) {
  QPDFObjectHandle contents = page.getKey("/Contents");
  ResourceUse use{page.getKey("/Resources").unparse(), {}};
  if (contents.isIndirect() && contents.isStream()) {
    use.second.push_back(contents.getObjGen());
    return use;
  }
  if (!contents.isArray()) return std::nullopt;
  for (auto& item : contents.aitems()) {
    if (!item.isIndirect()) return std::nullopt;
    use.second.push_back(item.getObjGen());
  }
  return use;
}

// The page's resources less those its content does not name, as a
// dictionary of their own; forms it draws keep their resources.
QPDFObjectHandle UsedResources(QPDFObjectHandle page) {
  NamesInContent content;
  QPDFPageObjectHelper(page).parseContents(&content);
  QPDFObjectHandle used = page.getKey("/Resources").shallowCopy();
  for (const char* kind : kResourceKinds) {
    QPDFObjectHandle named = used.getKey(kind);
    if (!named.isDictionary()) continue;
    QPDFObjectHandle kept = QPDFObjectHandle::newDictionary();
    for (auto& item : named.ditems()) {
      if (content.names().count(item.first) != 0) kept.replaceKey(item.first, item.second);
    }
    used.replaceKey(kind, kept);
  }
  return used;
}

// The page a destination leads to: the first item of its array, given as
// it is or as the /D of a dictionary.
QPDFObjectHandle DestinationPage(QPDFObjectHandle destination) {
  if (destination.isDictionary()) destination = destination.getKey("/D");
  if (!destination.isArray() || destination.getArrayNItems() == 0) {
    return QPDFObjectHandle::newNull();
  }
  return destination.getArrayItem(0);
}

// The named destinations that lead to masked pages, removed from the file
// (a name may quote a heading of the page), with the page each led to.
struct RemovedDestinations {
  std::map<std::string, QPDFObjectHandle> names;    // of the catalog's /Dests, without "/"
  std::map<std::string, QPDFObjectHandle> strings;  // of the /Dests name tree, as UTF-8

  // The page that a destination given by name led to, or null.
  QPDFObjectHandle PageFor(QPDFObjectHandle destination) const {
    const std::map<std::string, QPDFObjectHandle>* from = nullptr;
    std::string key;
    if (destination.isName()) {
      from = &names;
      key = destination.getName().substr(1);
    } else if (destination.isString()) {
      from = &strings;
      key = destination.getUTF8Value();
    }
    if (from == nullptr) return QPDFObjectHandle::newNull();
    const auto found = from->find(key);
    return found == from->end() ? QPDFObjectHandle::newNull() : found->second;
  }
};

bool LeadsTo(const QPDFObjectHandle& page, const std::set<QPDFObjGen>& pages) {
  return page.isIndirect() && pages.count(page.getObjGen()) != 0;
}

RemovedDestinations RemoveNamedDestinations(QPDF& qpdf, const std::set<QPDFObjGen>& maskedPages) {
  RemovedDestinations removed;
  QPDFObjectHandle catalog = qpdf.getRoot();
  QPDFObjectHandle dests = catalog.getKey("/Dests");
  if (dests.isDictionary()) {
    for (const std::string& key : dests.getKeys()) {
      QPDFObjectHandle page = DestinationPage(dests.getKey(key));
      if (!LeadsTo(page, maskedPages)) continue;
      removed.names.emplace(key.substr(1), page);
      dests.removeKey(key);
    }
  }
  QPDFObjectHandle names = catalog.getKey("/Names");
  QPDFObjectHandle tree = names.isDictionary() ? names.getKey("/Dests") : names;
  if (tree.isDictionary()) {
    QPDFNameTreeObjectHelper helper(tree, qpdf);
    for (const auto& entry : helper) {
      QPDFObjectHandle page = DestinationPage(entry.second);
      if (LeadsTo(page, maskedPages)) removed.strings.emplace(entry.first, page);
    }
    for (const auto& entry : removed.strings) helper.remove(entry.first);
  }
  return removed;
}

// A link (or the opening action) that went to a removed name goes to its
// page directly, as a whole.
void Retarget(QPDFObjectHandle holder, const char* key, const RemovedDestinations& removed) {
  if (!holder.isDictionary()) return;
  QPDFObjectHandle page = removed.PageFor(holder.getKey(key));
  if (page.isNull()) return;
  QPDFObjectHandle destination = QPDFObjectHandle::newArray();
  destination.appendItem(page);
  destination.appendItem(QPDFObjectHandle::newName("/Fit"));
  holder.replaceKey(key, destination);
}

void RetargetLinks(QPDF& qpdf, const std::vector<PdfPage>& pages, const std::vector<bool>& masked,
                   const RemovedDestinations& removed) {
  if (removed.names.empty() && removed.strings.empty()) return;
  QPDFObjectHandle opening = qpdf.getRoot().getKey("/OpenAction");
  Retarget(opening, "/D", removed);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (masked[i]) continue;
    for (QPDFObjectHandle& annotation : PageAnnotations(pages[i].object)) {
      Retarget(annotation, "/Dest", removed);
      QPDFObjectHandle action =
          annotation.isDictionary() ? annotation.getKey("/A") : QPDFObjectHandle::newNull();
      if (action.isDictionary() && action.getKey("/S").isNameAndEquals("/GoTo")) {
        Retarget(action, "/D", removed);
      }
    }
  }
}

// A page label's prefix is free text (a chapter's title, say): a range of
// pages that holds a masked page loses it, and keeps its numbering.
void StripLabelPrefixes(QPDF& qpdf, const std::vector<bool>& masked) {
  QPDFObjectHandle labels = qpdf.getRoot().getKey("/PageLabels");
  if (!labels.isDictionary()) return;
  QPDFNumberTreeObjectHelper tree(labels, qpdf);
  const auto ranges = tree.getAsMap();
  const auto pageCount = static_cast<long long>(masked.size());
  for (auto range = ranges.begin(); range != ranges.end(); ++range) {
    const auto next = std::next(range);
    const long long first = std::max(0LL, range->first);
    const long long end = next == ranges.end() ? pageCount : std::min(pageCount, next->first);
    bool holdsMasked = false;
    for (long long page = first; page < end && !holdsMasked; ++page) {
      holdsMasked = masked[static_cast<std::size_t>(page)];
    }
    QPDFObjectHandle label = range->second;
    if (!holdsMasked || !label.isDictionary() || !label.hasKey("/P")) continue;
    QPDFObjectHandle unnamed = label.shallowCopy();
    unnamed.removeKey("/P");
    tree.insert(range->first, unnamed);
  }
}

// Takes out of the arrays within `object` the references to objects that
// were removed (now null).
void DropRemovedReferences(QPDFObjectHandle object, std::set<QPDFObjGen>& seen) {
  if (object.isIndirect() && !seen.insert(object.getObjGen()).second) return;
  if (object.isDictionary()) {
    for (const auto& item : object.ditems()) DropRemovedReferences(item.second, seen);
    return;
  }
  if (!object.isArray()) return;
  std::vector<QPDFObjectHandle> kept;
  for (QPDFObjectHandle& item : object.aitems()) {
    if (item.isIndirect() && item.isNull()) continue;
    DropRemovedReferences(item, seen);
    kept.push_back(item);
  }
  if (kept.size() != static_cast<std::size_t>(object.getArrayNItems())) {
    object.setArrayFromVector(kept);
  }
}

}  // namespace

void RemoveWhatCouldCarryContent(QPDF& qpdf, const std::vector<PdfPage>& pages,
                                 const std::vector<bool>& masked) {
  RemoveFromDocument(qpdf);
  RemoveEverywhere(qpdf);
  std::set<QPDFObjGen> maskedPages;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (masked[i]) maskedPages.insert(pages[i].object.getObjGen());
  }
  RetargetLinks(qpdf, pages, masked, RemoveNamedDestinations(qpdf, maskedPages));
  StripLabelPrefixes(qpdf, masked);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (!masked[i]) DetachAnnotations(pages[i].object);
  }
  std::set<QPDFObjGen> fromMasked;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (masked[i]) Reach(pages[i].object, fromMasked);
  }
  // Reading a page's content takes time: only kept pages whose resources
  // name something that a masked page reaches (a font, an image, a layer...)
  // are read, and lose what their content does not name.
  std::map<ResourceUse, QPDFObjectHandle> read;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    QPDFObjectHandle page = pages[i].object;
    if (masked[i] || !ListsResourceOf(page, fromMasked)) continue;
    const auto use = ResourceUseOf(page);
    if (!use) {
      page.replaceKey("/Resources", UsedResources(page));
      continue;
    }
    auto found = read.find(*use);
    if (found == read.end()) {
      found = read.emplace(*use, qpdf.makeIndirectObject(UsedResources(page))).first;
    }
    page.replaceKey("/Resources", found->second);
  }
  std::set<QPDFObjGen> fromKept;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (!masked[i]) Reach(pages[i].object, fromKept);
  }
  for (const QPDFObjGen& object : fromMasked) {
    if (fromKept.count(object) == 0) qpdf.replaceObject(object, QPDFObjectHandle::newNull());
  }
  // Layers that only masked pages used are gone, names and all.
  std::set<QPDFObjGen> seen;
  DropRemovedReferences(qpdf.getRoot().getKey("/OCProperties"), seen);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (!masked[i]) continue;
    QPDFObjectHandle page = pages[i].object;
    for (const std::string& key : page.getKeys()) {
      if (key != "/Parent") page.removeKey(key);
    }
  }
}

}  // namespace hostsim
