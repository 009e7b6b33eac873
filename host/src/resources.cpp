#include "vtnhost/resources.h"

#include <cctype>

#include "vtnhost/platform.h"

namespace vtnhost {
namespace {

// A small tokenizer: words, quoted strings (with \" and \\), and the
// punctuation { } ; — with // comments and line numbers for messages.
class Lexer
{
public:
	explicit Lexer(std::string text) : s_(std::move(text)) {}

	// Kind: 'w' word, 's' string, 'p' punctuation, 0 end, '!' error.
	char next(std::string* tok)
	{
		skip();
		tokLine_ = line_;
		if (i_ >= s_.size())
			return 0;
		const char c = s_[i_];
		if (c == '{' || c == '}' || c == ';')
		{
			*tok = std::string(1, c);
			++i_;
			return 'p';
		}
		if (c == '"')
			return quoted(tok);
		tok->clear();
		while (i_ < s_.size() && !std::isspace(static_cast<unsigned char>(s_[i_])) && s_[i_] != '{' && s_[i_] != '}' &&
		       s_[i_] != ';' && s_[i_] != '"')
			*tok += s_[i_++];
		return 'w';
	}
	int line() const { return tokLine_; }

private:
	void skip()
	{
		while (i_ < s_.size())
		{
			if (s_[i_] == '\n')
				++line_, ++i_;
			else if (std::isspace(static_cast<unsigned char>(s_[i_])))
				++i_;
			else if (s_.compare(i_, 2, "//") == 0)
				while (i_ < s_.size() && s_[i_] != '\n')
					++i_;
			else
				break;
		}
	}
	char quoted(std::string* tok)
	{
		tok->clear();
		++i_;
		while (i_ < s_.size() && s_[i_] != '"')
		{
			if (s_[i_] == '\n')
				return '!';
			if (s_[i_] == '\\' && i_ + 1 < s_.size())
				++i_;
			*tok += s_[i_++];
		}
		if (i_ >= s_.size())
			return '!';
		++i_;
		return 's';
	}

	std::string s_;
	size_t i_ = 0;
	int line_ = 1;
	int tokLine_ = 1;
};

bool readFile(const std::string& path, std::string* text)
{
	std::string problem;
	return platform::readFile(path, text, &problem);
}

bool parseId(const std::string& tok, Int32* id)
{
	if (tok.empty() || tok.size() > 10)
		return false;
	long long v = 0;
	for (char c : tok)
	{
		if (!std::isdigit(static_cast<unsigned char>(c)))
			return false;
		v = v * 10 + (c - '0');
	}
	if (v > 0x7FFFFFFF)
		return false;
	*id = static_cast<Int32>(v);
	return true;
}

bool fail(std::string* error, const std::string& path, int line, const std::string& what)
{
	if (error)
		*error = path + ":" + std::to_string(line) + ": " + what;
	return false;
}

bool knownKind(const std::string& k)
{
	return k == "LINK" || k == "BUTTON" || k == "REAL" || k == "LONG" || k == "BOOL" || k == "STRING";
}

}  // namespace

bool parseStrings(const std::string& path, std::map<Int32, std::string>* out, std::string* error)
{
	std::string text;
	if (!readFile(path, &text))
		return fail(error, path, 0, "cannot read the string table");
	Lexer lex(std::move(text));
	std::string tok;
	for (;;)
	{
		char k = lex.next(&tok);
		if (k == 0)
			return true;
		Int32 id;
		if (k != 'w' || !parseId(tok, &id))
			return fail(error, path, lex.line(), "expected a string number, found '" + tok + "'");
		if (lex.next(&tok) != 's')
			return fail(error, path, lex.line(), "expected a quoted text after " + std::to_string(id));
		if (!out->emplace(id, tok).second)
			return fail(error, path, lex.line(), "string " + std::to_string(id) + " is defined twice");
	}
}

bool parseDescription(const std::string& path, Description* out, std::string* error)
{
	std::string text;
	if (!readFile(path, &text))
		return fail(error, path, 0, "cannot read the description");
	Lexer lex(std::move(text));
	std::string tok;
	if (lex.next(&tok) != 'w' || tok != "DESCRIPTION")
		return fail(error, path, lex.line(), "expected DESCRIPTION");
	if (lex.next(&tok) != 'w')
		return fail(error, path, lex.line(), "expected the description's name");
	out->name = tok;
	if (lex.next(&tok) != 'p' || tok != "{")
		return fail(error, path, lex.line(), "expected {");
	for (;;)
	{
		char k = lex.next(&tok);
		if (k == 'p' && tok == "}")
			break;
		ParameterDesc p;
		if (k != 'w' || !knownKind(tok))
			return fail(error, path, lex.line(), "unknown parameter kind '" + tok + "'");
		p.kind = tok;
		if (lex.next(&p.symbol) != 'w')
			return fail(error, path, lex.line(), "expected a parameter symbol");
		if (lex.next(&tok) != 'w' || !parseId(tok, &p.id))
			return fail(error, path, lex.line(), "expected the id of " + p.symbol);
		if (lex.next(&p.label) != 's')
			return fail(error, path, lex.line(), "expected the label of " + p.symbol);
		if (lex.next(&tok) != 'p' || tok != ";")
			return fail(error, path, lex.line(), "expected ; after " + p.symbol);
		for (const ParameterDesc& q : out->params)
			if (q.id == p.id)
				return fail(error, path, lex.line(), "parameter id " + std::to_string(p.id) + " is used twice");
		out->params.push_back(std::move(p));
	}
	if (lex.next(&tok) != 0)
		return fail(error, path, lex.line(), "unexpected text after the description");
	return true;
}

std::unique_ptr<ResourceSet> loadResources(const std::string& plugin_dir, std::string* error)
{
	const std::string dir = platform::joinPath(plugin_dir, "res");
	if (!platform::isDirectory(dir))
	{
		if (error)
			*error = "no resource folder " + dir;
		return nullptr;
	}
	std::map<Int32, std::string> strings;
	if (!parseStrings(platform::joinPath(dir, "strings.str"), &strings, error))
		return nullptr;
	auto res = std::make_unique<ResourceSet>();
	res->dir = dir;
	for (auto& kv : strings)
	{
		auto slot = std::make_unique<StringSlot>();
		slot->text.text = std::move(kv.second);
		res->strings.emplace(kv.first, std::move(slot));
	}
	return res;
}

}  // namespace vtnhost
