// Checks stampd's API description (service/web/page/openapi.json) with real validators from
// the project's npm lock (scripts/web-tools.sh):
//   1. the document against the OpenAPI 3.1 schema (@seriousme/openapi-schema-validator);
//   2. every exchange the test recorded from a running stampd: the path, method and query
//      parameters are described, the status and content type are among the operation's
//      answers, and a JSON answer (and a JSON request body) passes its schema (Ajv, JSON
//      Schema 2020-12, the dialect OpenAPI 3.1 uses);
//   3. every example request in the README, the same way (they are requests, not answers).
// Every described operation must have been exercised by at least one recorded exchange.
//
// Usage: node check_openapi.mjs TOOLS_DIR openapi.json exchanges.json README.md
// exchanges.json: [{method, target, status, contentType, body (text), requestBody?}]
// Prints one line per fault and "N passed, N failed".
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const [tools, docPath, exchangesPath, readmePath] = process.argv.slice(2);
const modules = path.join(tools, 'node_modules');
const require = createRequire(path.join(modules, 'noop.js'));
const Ajv2020 = require('ajv/dist/2020').default;
const addFormats = require('ajv-formats').default;
const { Validator } = await import(pathToFileURL(path.join(modules, '@seriousme/openapi-schema-validator/index.js')));

const doc = JSON.parse(readFileSync(docPath, 'utf8'));
let passed = 0;
let failed = 0;
const fault = (what) => {
  failed += 1;
  console.log(`FAIL ${what}`);
};
const check = (ok, what) => (ok ? (passed += 1) : fault(what));

// 1. The document itself.
const validator = new Validator();
const verdict = await validator.validate(structuredClone(doc));
check(verdict.valid && validator.version === '3.1', `openapi.json is not valid OpenAPI 3.1: ${JSON.stringify(verdict.errors)}`);

const ajv = new Ajv2020({ strict: false, allErrors: true });
addFormats(ajv);
ajv.addSchema(doc, 'openapi.json');
const pointer = (parts) => 'openapi.json#/' + parts.map((p) => String(p).replace(/~/g, '~0').replace(/\//g, '~1')).join('/');
const compiled = new Map();
const schemaCheck = (parts) => {
  const key = pointer(parts);
  if (!compiled.has(key)) compiled.set(key, ajv.compile({ $ref: key }));
  return compiled.get(key);
};
const resolve = (node) => (node && node.$ref ? resolve(node.$ref.slice(2).split('/').reduce((o, k) => o[k.replace(/~1/g, '/').replace(/~0/g, '~')], doc)) : node);

// The described path a request's path falls under (templated segments match any one segment).
function findPath(requestPath) {
  const segments = requestPath.split('/');
  let best = null;
  for (const template of Object.keys(doc.paths)) {
    const parts = template.split('/');
    if (parts.length !== segments.length) continue;
    const literal = parts.filter((p) => !p.startsWith('{')).length;
    if (parts.every((p, i) => p.startsWith('{') || p === segments[i]) && (!best || literal > best.literal)) best = { template, literal };
  }
  return best && best.template;
}

const used = new Set();

function checkRequest(method, target, body, what, { pattern = false, refused = false } = {}) {
  const url = new URL(target, 'http://stampd');
  const template = findPath(url.pathname);
  if (!template) return fault(`${what}: ${url.pathname} is not described`);
  const operation = doc.paths[template][method.toLowerCase()];
  if (!operation) return fault(`${what}: ${method} ${template} is not described`);
  if (pattern) return { template, operation };  // the endpoint table's shape of a request
  used.add(`${method.toUpperCase()} ${template}`);
  const params = (operation.parameters || []).map(resolve);
  const query = {};
  for (const [k, v] of url.searchParams) query[k] = v;
  // Named query parameters first; an exploded form object takes the rest.
  const object = params.find((p) => p.in === 'query' && p.style === 'form' && p.explode && resolve(p.schema).type === 'object');
  const rest = {};
  for (const [k, v] of Object.entries(query)) {
    const named = params.find((p) => p.in === 'query' && p.name === k && p !== object);
    if (named) {
      const schema = resolve(named.schema);
      const value = schema.type === 'integer' && /^-?\d+$/.test(v) ? Number(v) : v;
      const validate = ajv.compile(schema);
      check(validate(value), `${what}: query ${k}=${v} does not fit: ${ajv.errorsText(validate.errors)}`);
    } else if (object) {
      rest[k] = v;
    } else {
      fault(`${what}: query parameter ${k} is not described for ${method} ${template}`);
    }
  }
  for (const p of params.filter((q) => q.in === 'query' && q.required)) check(p.name in query, `${what}: required ${p.name} missing`);
  if (object) {
    // A design the service refuses (400) need not fit, and one it takes must.
    const validate = ajv.compile(resolve(object.schema));
    if (!refused) check(validate(rest), `${what}: the query does not fit ${object.name}: ${ajv.errorsText(validate.errors)}`);
  }
  if (body !== undefined) {
    const media = operation.requestBody && operation.requestBody.content && operation.requestBody.content['application/json'];
    if (!media) return fault(`${what}: ${method} ${template} takes no JSON body`);
    let value;
    try {
      value = JSON.parse(body);
    } catch (e) {
      return fault(`${what}: the body is not JSON`);
    }
    const validate = schemaCheck(['paths', template, method.toLowerCase(), 'requestBody', 'content', 'application/json', 'schema']);
    check(validate(value), `${what}: the body does not fit: ${ajv.errorsText(validate.errors)}`);
  }
  return { template, operation };
}

// 2. Exchanges with the running service.
const exchanges = JSON.parse(readFileSync(exchangesPath, 'utf8'));
for (const x of exchanges) {
  const what = `${x.method} ${x.target} → ${x.status}`;
  // A body the service took must fit the schema, and one it refused as a bad design must not.
  const found = checkRequest(x.method, x.target, x.status < 300 ? x.requestBody : undefined, what, { refused: x.status === 400 });
  if (found && x.requestBody !== undefined && x.status === 400) {
    const validate = schemaCheck(['paths', found.template, x.method.toLowerCase(), 'requestBody', 'content', 'application/json', 'schema']);
    check(!validate(JSON.parse(x.requestBody)), `${what}: a body the service refused fits the schema`);
  }
  if (!found) continue;
  const method = x.method.toLowerCase();
  const answer = found.operation.responses[String(x.status)] || found.operation.responses.default;
  if (!answer) {
    fault(`${what}: status ${x.status} is not among the described answers`);
    continue;
  }
  const content = resolve(answer).content;
  const media = (x.contentType || '').split(';')[0].trim();
  if (!content) {
    check(!x.body, `${what}: an answer with a body where none is described`);
    continue;
  }
  if (!(media in content)) {
    fault(`${what}: content type ${media} is not described (${Object.keys(content).join(', ')})`);
    continue;
  }
  passed += 1;
  const schema = content[media].schema;
  if (!schema || schema.contentMediaType) continue;  // a picture or a file: its type is the check
  const ref = answer.$ref
    ? [...answer.$ref.slice(2).split('/').map((k) => k.replace(/~1/g, '/')), 'content', media, 'schema']
    : ['paths', found.template, method, 'responses', String(x.status) in found.operation.responses ? String(x.status) : 'default', 'content', media, 'schema'];
  let value = x.body;
  if (media === 'application/json') {
    try {
      value = JSON.parse(x.body);
    } catch (e) {
      fault(`${what}: the answer is not JSON`);
      continue;
    }
  }
  const validate = schemaCheck(ref);
  check(validate(value), `${what}: the answer does not fit its schema: ${ajv.errorsText(validate.errors)}`);
}

// 3. The README's example requests: `GET /…` in the text, curl command lines, the query form.
const readme = readFileSync(readmePath, 'utf8');
const designJson = (readme.match(/```json\n(\{"version":1[\s\S]*?)```/) || [])[1];
check(Boolean(designJson), 'README: the design JSON example was not found');
let examples = 0;
for (const m of readme.matchAll(/`(GET|POST) (\/[^` ]*)`/g)) {
  // The endpoint table names requests by their shape (`/design.{png,svg,pdf}?{design}`,
  // `?text=&id=`): those only need their path described; the rest are whole requests.
  const [method, target] = [m[1], m[2]];
  if (/[{*[]/.test(target)) continue;
  examples += 1;
  const pattern = /=(&|$)/.test(target);
  // An example shown with the errors it gets (`… → {"errors":…}`) is a refused one.
  const refused = readme.slice(m.index + m[0].length, m.index + m[0].length + 40).includes('{"errors"');
  checkRequest(method, pattern ? target.split('?')[0] : target, undefined, `README \`${method} ${target}\``, { pattern, refused });
}
for (const m of readme.matchAll(/^curl .*$/gm)) {
  const url = (m[0].match(/'?(http:\/\/127\.0\.0\.1:8077\/[^' ]*)'?/) || [])[1];
  if (!url) continue;
  examples += 1;
  const post = /--data-binary|-d /.test(m[0]);
  checkRequest(post ? 'POST' : 'GET', url.replace('http://127.0.0.1:8077', ''), post ? designJson : undefined, `README ${m[0].slice(0, 60)}`);
}
const queryForm = (readme.match(/```\n(v=1&[^\n]*)\n```/) || [])[1];
check(Boolean(queryForm), 'README: the design query form example was not found');
if (queryForm) {
  examples += 1;
  checkRequest('GET', '/design.png?' + new URLSearchParams(queryForm).toString(), undefined, 'README query form');
}
check(examples >= 5, `README: only ${examples} example requests found`);

// Every described operation was exercised.
for (const [template, item] of Object.entries(doc.paths))
  for (const method of ['get', 'post'])
    if (item[method]) check(used.has(`${method.toUpperCase()} ${template}`), `${method.toUpperCase()} ${template} is described but no exchange exercised it`);

console.log(`${passed} passed, ${failed} failed`);
process.exit(failed ? 1 : 0);
