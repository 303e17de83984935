// Event XML read with libxml2: a whole stream in one pass of its SAX parser,
// or one Event element as a small tree.
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
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

// What the SAX parser has found so far: the event being read, the element
// whose text is wanted, and its text.
struct Stream {
  xmlParserCtxtPtr parser = nullptr;
  std::vector<ForwardedEvent>* out = nullptr;
  std::vector<EventProblem>* problems = nullptr;
  ForwardedEvent event;
  bool in_event = false, time = false;
  int started_on = 0;
  std::string element, text;
};

bool Is(const xmlChar* name, const char* what) { return std::strcmp(reinterpret_cast<const char*>(name), what) == 0; }

void StartElement(void* ctx, const xmlChar* name, const xmlChar*, const xmlChar*, int, const xmlChar**,
                  int attribute_count, int, const xmlChar** attributes) {
  Stream& s = *static_cast<Stream*>(ctx);
  if (Is(name, "Event")) {
    s.event = ForwardedEvent{};
    s.in_event = true;
    s.time = false;
    s.started_on = xmlSAX2GetLineNumber(s.parser);
    return;
  }
  if (!s.in_event) return;
  s.text.clear();
  s.element = reinterpret_cast<const char*>(name);
  // Each attribute is five pointers: name, prefix, URI, value, end of value.
  for (int i = 0; i < attribute_count; ++i) {
    const xmlChar** a = attributes + i * 5;
    const std::string value(reinterpret_cast<const char*>(a[3]), static_cast<size_t>(a[4] - a[3]));
    if (Is(name, "Provider") && Is(a[0], "Name")) s.event.provider = value;
    if (Is(name, "TimeCreated") && Is(a[0], "SystemTime")) s.time = ParseSystemTime(value, s.event.utc_ms);
  }
}

void Characters(void* ctx, const xmlChar* ch, int len) {
  Stream& s = *static_cast<Stream*>(ctx);
  if (s.in_event && !s.element.empty()) s.text.append(reinterpret_cast<const char*>(ch), static_cast<size_t>(len));
}

void EndElement(void* ctx, const xmlChar* name, const xmlChar*, const xmlChar*) {
  Stream& s = *static_cast<Stream*>(ctx);
  if (!s.in_event) return;
  ForwardedEvent& e = s.event;
  if (Is(name, "Event")) {
    s.in_event = false;
    if (e.provider.empty() || e.computer.empty() || !s.time) {
      s.problems->push_back({"", s.started_on, "an event without its provider, computer or time"});
    } else {
      s.out->push_back(std::move(e));
    }
  } else if (s.element == reinterpret_cast<const char*>(name)) {
    if (Is(name, "Computer")) e.computer = s.text;
    if (Is(name, "EventID")) e.event_id = std::atoi(s.text.c_str());
    if (Is(name, "Level")) e.level = std::atoi(s.text.c_str());
    if (Is(name, "EventRecordID")) e.record_id = std::strtoull(s.text.c_str(), nullptr, 10);
    if (Is(name, "Data")) e.text += (e.text.empty() ? "" : "\n") + s.text;
  }
  s.element.clear();
}

}  // namespace

bool ParseEventStream(std::string_view xml, std::vector<ForwardedEvent>& out, std::vector<EventProblem>& problems) {
  std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> parser(
      xmlCreateMemoryParserCtxt(xml.data(), static_cast<int>(xml.size())), xmlFreeParserCtxt);
  if (!parser) return false;
  xmlSAXHandler sax{};
  sax.initialized = XML_SAX2_MAGIC;
  sax.startElementNs = StartElement;
  sax.endElementNs = EndElement;
  sax.characters = Characters;
  sax.cdataBlock = Characters;
  // No messages on the standard error: damage is reported by the reader.
  sax.serror = [](void*, xmlErrorPtr) {};
  std::vector<ForwardedEvent> events;
  std::vector<EventProblem> lacking;
  Stream stream{parser.get(), &events, &lacking};
  xmlSAXHandler* old = parser->sax;
  parser->sax = &sax;
  parser->userData = &stream;
  xmlCtxtUseOptions(parser.get(), XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  const int status = xmlParseDocument(parser.get());
  const bool well_formed = status == 0 && parser->wellFormed;
  parser->sax = old;
  if (!well_formed) return false;
  out.insert(out.end(), std::make_move_iterator(events.begin()), std::make_move_iterator(events.end()));
  problems.insert(problems.end(), lacking.begin(), lacking.end());
  return true;
}

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
