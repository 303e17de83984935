// The Event element read with libxml2, as a small tree.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <memory>

#include "tools/events_xml.h"

namespace kalmora::report {

namespace {

bool Named(const xmlNode* n, const char* name) {
  return n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

std::string Text(const xmlNode* n) {
  std::string out;
  for (const xmlNode* c = n->children; c; c = c->next) {
    if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) out += reinterpret_cast<const char*>(c->content);
  }
  return out;
}

std::string Attribute(const xmlNode* n, const char* name) {
  for (const xmlAttr* a = n->properties; a; a = a->next) {
    if (std::strcmp(reinterpret_cast<const char*>(a->name), name) == 0 && a->children) {
      return reinterpret_cast<const char*>(a->children->content);
    }
  }
  return "";
}

}  // namespace

bool ParseEventElement(std::string_view xml, ForwardedEvent& e, std::string& problem) {
  std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
      xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, "UTF-8",
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
      xmlFreeDoc);
  if (!doc) {
    const xmlError* error = xmlGetLastError();
    problem = "an event that is not well-formed XML";
    if (error && error->message) {
      std::string why = error->message;
      while (!why.empty() && why.back() == '\n') why.pop_back();
      problem += " (" + why + ")";
    }
    return false;
  }
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  bool time = false;
  for (const xmlNode* part = root->children; part; part = part->next) {
    if (Named(part, "System")) {
      for (const xmlNode* n = part->children; n; n = n->next) {
        if (Named(n, "Provider")) e.provider = Attribute(n, "Name");
        if (Named(n, "Computer")) e.computer = Text(n);
        if (Named(n, "EventID")) e.event_id = std::atoi(Text(n).c_str());
        if (Named(n, "Level")) e.level = std::atoi(Text(n).c_str());
        if (Named(n, "EventRecordID")) e.record_id = std::strtoull(Text(n).c_str(), nullptr, 10);
        if (Named(n, "TimeCreated")) time = ParseSystemTime(Attribute(n, "SystemTime"), e.utc_ms);
      }
    } else if (Named(part, "EventData")) {
      for (const xmlNode* n = part->children; n; n = n->next) {
        if (Named(n, "Data")) e.text += (e.text.empty() ? "" : "\n") + Text(n);
      }
    }
  }
  if (e.provider.empty() || e.computer.empty() || !time) {
    problem = "an event without its provider, computer or time";
    return false;
  }
  return true;
}

}  // namespace kalmora::report
