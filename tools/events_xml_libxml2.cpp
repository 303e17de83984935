// Event XML read with libxml2's SAX parser: every node handed to the
// collector as it is read, nothing kept.
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <memory>

#include "tools/events_xml.h"

namespace kalmora::report {

namespace {

struct Stream {
  xmlParserCtxtPtr parser = nullptr;
  EventCollector* collect = nullptr;
  std::string problem;  // the first error's message
};

std::string_view View(const xmlChar* s) { return reinterpret_cast<const char*>(s); }

void StartElement(void* ctx, const xmlChar* name, const xmlChar*, const xmlChar*, int, const xmlChar**,
                  int attribute_count, int, const xmlChar** attributes) {
  Stream& s = *static_cast<Stream*>(ctx);
  s.collect->Start(View(name), xmlSAX2GetLineNumber(s.parser));
  // Each attribute is five pointers: name, prefix, URI, value, end of value.
  for (int i = 0; i < attribute_count; ++i) {
    const xmlChar** a = attributes + i * 5;
    s.collect->Attribute(View(a[0]),
                         std::string_view(reinterpret_cast<const char*>(a[3]), static_cast<size_t>(a[4] - a[3])));
  }
}

void Characters(void* ctx, const xmlChar* ch, int len) {
  static_cast<Stream*>(ctx)->collect->Text(
      std::string_view(reinterpret_cast<const char*>(ch), static_cast<size_t>(len)));
}

void EndElement(void* ctx, const xmlChar* name, const xmlChar*, const xmlChar*) {
  static_cast<Stream*>(ctx)->collect->End(View(name));
}

}  // namespace

bool ParseEventStream(std::string_view xml, EventCollector& collect, std::string& problem) {
  std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> parser(
      xmlCreateMemoryParserCtxt(xml.data(), static_cast<int>(xml.size())), xmlFreeParserCtxt);
  if (!parser) return false;
  xmlSAXHandler sax{};
  sax.initialized = XML_SAX2_MAGIC;
  sax.startElementNs = StartElement;
  sax.endElementNs = EndElement;
  sax.characters = Characters;
  sax.cdataBlock = Characters;
  // Nothing on the standard error: the first message goes into the problem.
  sax.serror = [](void* ctx, xmlErrorPtr error) {
    Stream& s = *static_cast<Stream*>(ctx);
    if (s.problem.empty() && error && error->message) {
      s.problem = error->message;
      while (!s.problem.empty() && s.problem.back() == '\n') s.problem.pop_back();
    }
  };
  Stream stream{parser.get(), &collect, ""};
  xmlSAXHandler* old = parser->sax;
  parser->sax = &sax;
  parser->userData = &stream;
  xmlCtxtUseOptions(parser.get(), XML_PARSE_NONET);
  const bool well_formed = xmlParseDocument(parser.get()) == 0 && parser->wellFormed;
  parser->sax = old;
  problem = stream.problem;
  return well_formed;
}

}  // namespace kalmora::report
