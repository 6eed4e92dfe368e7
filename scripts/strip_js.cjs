// strip_js.cjs: the package's scripts as shipped: the same code without its comments, indentation
// and blank lines (the commented sources stay in the repository; index.d.ts and the README are
// the package's manual). Comments are found by the JavaScript parser, so nothing inside a
// string, a template or a regular expression is touched, and a line break inside a template
// stays as it is. Line breaks elsewhere are kept too, so an error's line number still points at
// a line of the shipped file that reads as the source does.
//
//     node strip_js.cjs IN.js OUT.js
'use strict';
const fs = require('fs');
// Debian's parser lies outside node's own search path.
const acorn = (() => {
    try {
        return require('acorn');
    } catch {
        return require('/usr/share/nodejs/acorn');
    }
})();

const [input, output] = process.argv.slice(2);
const source = fs.readFileSync(input, 'utf8');

// First the comments go (a comment between two tokens leaves a space, so they stay apart).
const comments = [];
const options = { ecmaVersion: 'latest', sourceType: 'module', onComment: comments };
acorn.parse(source, options);
let text = '';
let at = 0;
for (const c of comments) {
    text += source.slice(at, c.start);
    if (/\S/.test(source[c.start - 1] ?? '') && /\S/.test(source[c.end] ?? '')) text += ' ';
    at = c.end;
}
text += source.slice(at);

// Then the indentation and blank lines, except inside templates and strings (a string may go on
// past a backslash at a line's end), where whitespace and line breaks are part of the text.
const verbatim = []; // [start, end) of each template piece and string
for (const token of acorn.tokenizer(text, { ecmaVersion: 'latest', sourceType: 'module' })) {
    if (token.type === acorn.tokTypes.template || token.type === acorn.tokTypes.string)
        verbatim.push([token.start, token.end]);
}
const isVerbatim = (p) => verbatim.some(([start, end]) => p >= start && p < end && end > start);
const lines = [];
let position = 0;
for (const line of text.split('\n')) {
    const first = position;
    const last = position + line.length; // the line break's place
    position = last + 1;
    let kept = isVerbatim(first) ? line : line.trimStart();
    if (!isVerbatim(last)) kept = kept.trimEnd();
    if (kept !== '' || isVerbatim(last)) lines.push(kept);
}
const result = lines.join('\n') + '\n';

// The result must still parse: a stripped script that does not is a fault of this script.
acorn.parse(result, options);
fs.writeFileSync(output, result);
