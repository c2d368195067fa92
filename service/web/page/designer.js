// The seal designer: every field of a design as a control, the service's picture of it as the
// preview. The design lives in the page's address as the service's query form, so a link (or a
// reload) reproduces it; undo and redo walk the designs the page has shown. The service checks
// every value and says what is wrong, field by field; the page shows its Chinese message by the
// control it belongs to.
//
// Everything that came from a request, a file or the user reaches the page through
// textContent, values and attributes, never as markup.

const $ = (id) => document.getElementById(id);

// Query keys and JSON paths, as the service names them (design.cpp, kKeys).
const KEYS = [
  ['v', 'version'], ['shape', 'shape'], ['w', 'width'], ['h', 'height'], ['color', 'color'], ['relief', 'relief'],
  ['b', 'border.style'], ['bw', 'border.width'], ['ir', 'border.inner'], ['ig', 'border.gap'],
  ['t', 'text.value'], ['tf', 'text.font'], ['ts', 'text.size'], ['tsp', 'text.spacing'], ['ta', 'text.start'],
  ['tb', 'text.end'], ['i', 'inner.value'], ['if', 'inner.font'], ['is', 'inner.size'], ['c', 'centre.kind'],
  ['cs', 'centre.size'], ['ct', 'centre.value'], ['cf', 'centre.font'],
  ['l1', 'lines[0].value'], ['l1f', 'lines[0].font'], ['l1s', 'lines[0].size'], ['l1o', 'lines[0].offset'],
  ['l2', 'lines[1].value'], ['l2f', 'lines[1].font'], ['l2s', 'lines[1].size'], ['l2o', 'lines[1].offset'],
  ['l3', 'lines[2].value'], ['l3f', 'lines[2].font'], ['l3s', 'lines[2].size'], ['l3o', 'lines[2].offset'],
  ['k', 'code.value'], ['kf', 'code.font'], ['ks', 'code.size'], ['a', 'aged.intensity'], ['s', 'aged.seed'],
  ['tw', 'text.weight'], ['iw', 'inner.weight'], ['cw', 'centre.weight'], ['l1w', 'lines[0].weight'],
  ['l2w', 'lines[1].weight'], ['l3w', 'lines[2].weight'], ['kw', 'code.weight'],
];
const PATH_OF = new Map(KEYS);
const KEY_OF = new Map(KEYS.map(([k, p]) => [p, k]));
const DEFAULT = 'v=1&shape=round&color=D01010&t=%E5%A4%A9%E5%AE%9D%E5%8D%B0%E7%AB%A0%E6%9C%89%E9%99%90%E5%85%AC%E5%8F%B8&tf=song&c=star';

const form = $('design-form');
const preview = () => $('design-preview');
const statusLine = $('design-status');
const errorList = $('design-errors');
const codeOn = $('f-k-on');
const zoom = $('zoom');
let catalogue = null;
let current = '';     // the query shown
const undo = [];
const redo = [];
let serial = 0;       // the newest preview asked for; an answer for an older one is dropped
let inFlight = false; // a picture is being fetched and decoded
let waiting = null;   // the newest preview asked for while one was in flight

function setStatus(text, kind) {
  statusLine.textContent = text;
  statusLine.classList.toggle('error', kind === 'error');
}

function controls() {
  return [...form.querySelectorAll('[data-key]')];
}

function option(value, label) {
  const o = document.createElement('option');
  o.value = value;
  o.textContent = label;
  return o;
}

function buildLines() {
  const box = $('lines');
  for (let n = 1; n <= 3; n += 1) {
    const group = document.createElement('div');
    group.className = 'line';
    group.setAttribute('role', 'group');
    group.setAttribute('aria-label', `第 ${n} 行`);
    const fields = [
      [`l${n}`, `第 ${n} 行文字`, 'text', n === 1 ? '例如：合同专用章' : ''],
      [`l${n}f`, '字体', 'select', ''],
      [`l${n}s`, '字高（毫米）', 'text', '自动'],
      [`l${n}o`, '位置（毫米，向下为正）', 'text', '自动'],
    ];
    const row = document.createElement('div');
    row.className = 'row';
    for (const [key, label, kind, placeholder] of fields) {
      const field = document.createElement('div');
      field.className = 'field';
      const l = document.createElement('label');
      l.htmlFor = `f-${key}`;
      l.textContent = label;
      const input = document.createElement(kind === 'select' ? 'select' : 'input');
      input.id = `f-${key}`;
      input.dataset.key = key;
      if (kind === 'select') input.className = 'fonts inherit';
      else {
        input.type = 'text';
        if (key !== `l${n}`) input.inputMode = 'decimal';
        input.placeholder = placeholder;
      }
      field.append(l, input);
      (key === `l${n}` ? group : row).append(field);
    }
    group.append(row);
    box.append(group);
  }
}

function fillChoices() {
  $('f-shape').replaceChildren(...catalogue.shapes.map((s) => option(s.id, `${s.name}（${s.width}×${s.height} 毫米）`)));
  $('f-b').replaceChildren(option('', '单线'), ...catalogue.borders.filter((b) => b.id !== 'single').map((b) => option(b.id, b.name)));
  $('f-c').replaceChildren(option('', '无'), ...catalogue.centres.filter((c) => c.id !== 'none').map((c) => option(c.id, c.name)));
  for (const select of form.querySelectorAll('select.fonts')) {
    const inherit = select.classList.contains('inherit');
    const fonts = catalogue.fonts.map((f) => option(f.id, f.own ? f.name : `${f.name}（本服务无此字体，以${f.face}代替）`));
    // The faces by family; one the service lacks is named and cannot be chosen.
    const faces = (catalogue.faces || []).map((f) => {
      const o = option(f.id, f.own ? `${f.name}（${f.face}）` : `${f.name}（${f.face}，本服务未安装）`);
      o.disabled = !f.own;
      return o;
    });
    select.replaceChildren(...(inherit ? [option('', '同主文字')] : []), ...fonts, ...faces);
    // A weight beside each face choice, for families that have several.
    const key = select.dataset.key.replace(/f$/, 'w');
    const field = document.createElement('div');
    field.className = 'field weight';
    const label = document.createElement('label');
    label.htmlFor = `f-${key}`;
    label.textContent = '字重';
    const weight = document.createElement('select');
    weight.id = `f-${key}`;
    weight.dataset.key = key;
    field.append(label, weight);
    select.closest('.field').after(field);
  }
  updateWeights();
}

// Each weight choice lists its face's weights, and shows only for a face that has several.
function updateWeights() {
  for (const select of form.querySelectorAll('select.fonts')) {
    const weight = $(`f-${select.dataset.key.replace(/f$/, 'w')}`);
    if (!weight) continue;
    const face = (catalogue.faces || []).find((f) => f.id === select.value);
    const weights = face ? face.weights : [];
    const keep = weight.value;
    const names = { 100: '极细', 200: '特细', 300: '细', 350: '半细', 400: '常规', 500: '中等', 600: '半粗', 700: '粗', 900: '特粗' };
    weight.replaceChildren(option('', `默认（${face ? face.weight : 400}）`),
      ...weights.map((w) => option(String(w), `${names[w] || ''} ${w}`)));
    weight.value = weights.includes(Number(keep)) ? keep : '';
    weight.closest('.field').hidden = weights.length < 2;
  }
}

// The form as the service's query form: empty controls are auto and stay out.
function formToQuery() {
  const q = new URLSearchParams();
  q.set('v', '1');
  for (const el of controls()) {
    const key = el.dataset.key;
    let value = el.value.trim();
    if (key === 'color') value = value.replace('#', '').toUpperCase();
    if (key === 'a' && value === '0') value = '';
    if (key === 'k') {
      if (codeOn.checked) q.set('k', value);
      continue;
    }
    if (value !== '') q.set(key, value);
  }
  return q.toString().replace(/\+/g, '%20');
}

function queryToForm(query) {
  const q = new URLSearchParams(query);
  // Faces first, so each weight choice lists its face's weights before it is set.
  for (const el of form.querySelectorAll('select.fonts')) el.value = q.get(el.dataset.key) ?? (el.dataset.key === 'tf' ? 'song' : '');
  updateWeights();
  for (const el of controls()) {
    const key = el.dataset.key;
    let value = q.get(key) ?? '';
    if (key === 'color') value = `#${(value || 'D01010').toLowerCase()}`;
    if (key === 'shape' && !value) value = 'round';
    if (key === 'tf' && !value) value = 'song';
    if (key === 'a' && !value) value = '0';
    if (key === 'relief' && value === 'yang') value = '';
    if (key === 'b' && value === 'single') value = '';
    if (key === 'c' && value === 'none') value = '';
    el.value = value;
  }
  codeOn.checked = q.has('k');
  updateZoomText();
}

// The service's canonical JSON as the query form.
function jsonToQuery(design) {
  const q = new URLSearchParams();
  const walk = (value, path) => {
    if (value === null || value === undefined) return;
    if (Array.isArray(value)) {
      value.forEach((v, i) => walk(v, `${path}[${i}]`));
    } else if (typeof value === 'object') {
      if (path === 'code') q.set('k', '');
      for (const [k, v] of Object.entries(value)) walk(v, path ? `${path}.${k}` : k);
    } else {
      const key = KEY_OF.get(path);
      if (!key) return;
      const s = String(value);
      if ((key === 'a' || key === 's') && s === '0') return;
      if (s === '' && key !== 'k') return;
      q.set(key, s);
    }
  };
  walk(design, '');
  return q.toString().replace(/\+/g, '%20');
}

// The picture's longer side in device pixels, for the size it is shown at: the canvas's width
// times the zoom, and for a seal taller than wide (a long seal) its height.
// A seal's height over its width, as the last picture of that shape and size came back: the
// estimate from the millimetres is off by the picture's margin, which differs by shape.
const aspects = new Map();
const shapeKey = () => `${$('f-shape').value}|${$('f-w').value.trim()}|${$('f-h').value.trim()}`;

function shownWidth() {
  return $('canvas').clientWidth * (Number(zoom.value) / 100) * (window.devicePixelRatio || 1);
}

function pixels() {
  const shape = catalogue && catalogue.shapes.find((x) => x.id === $('f-shape').value);
  let ratio = aspects.get(shapeKey());
  if (!ratio && shape) {
    const square = shape.id === 'round' || shape.id === 'square';
    const w = Number($('f-w').value) || shape.width;
    const h = square ? w : Number($('f-h').value) || shape.height;
    ratio = (h + 1) / (w + 1);  // the picture adds about 0.5 mm on each side
  }
  return Math.round(Math.min(2048, Math.max(64, shownWidth() * Math.max(1, ratio || 1))));
}

function downloadPx() {
  const n = Number($('download-px').value.trim());
  return Number.isInteger(n) && n >= 64 && n <= 2048 ? n : 600;
}

function updateLinks() {
  const px = downloadPx();
  $('download-png').href = `/design.png?${current}&px=${px}`;
  $('download-svg').href = `/design.svg?${current}`;
  $('download-pdf').href = `/design.pdf?${current}`;
  $('export-json').href = `/design.json?${current}`;
  const name = (new URLSearchParams(current).get('t') || new URLSearchParams(current).get('ct') || '印章')
    .replace(/[\\/:*?"<>|\u0000-\u001f\u007f]/g, '_').slice(0, 60);
  for (const [id, ext] of [['download-png', 'png'], ['download-svg', 'svg'], ['download-pdf', 'pdf']]) $(id).download = `${name}.${ext}`;
  $('export-json').download = `${name}.json`;
  $('share-link').value = location.href;
}

function clearErrors() {
  errorList.replaceChildren();
  errorList.hidden = true;
  for (const el of form.querySelectorAll('[aria-invalid]')) {
    el.removeAttribute('aria-invalid');
    el.removeAttribute('aria-describedby');
  }
}

function showErrors(errors) {
  clearErrors();
  for (const e of errors) {
    const li = document.createElement('li');
    const key = KEY_OF.get(e.field) || e.field;
    li.id = `error-${key}`;
    li.textContent = e.zh;
    li.lang = 'zh-CN';
    li.title = e.en;
    errorList.append(li);
    const el = key === 'k' ? $('f-k') : form.querySelector(`[data-key="${CSS.escape(key)}"]`);
    if (el) {
      el.setAttribute('aria-invalid', 'true');
      el.setAttribute('aria-describedby', li.id);
    }
  }
  errorList.hidden = errors.length === 0;
}

function afterPaint(callback) {
  requestAnimationFrame(() => setTimeout(callback, 0));
}

// Asks for the preview of a query. When the service is idle the request goes at once; while one
// is in flight, only the newest query waits for it (typing faster than the service answers
// skips the designs in between), and an answer that is no longer the newest is dropped.
function show(query, started, message = '预览已更新。') {
  const job = { query, started, message, mine: ++serial };
  if (inFlight) {
    // The measure runs from the first edit the coming picture answers.
    if (waiting && waiting.started && started) job.started = Math.min(waiting.started, started);
    waiting = job;
    return;
  }
  fetchPreview(job);
}

// Fetches and decodes one preview; the old picture stays until the new one is decoded, and a
// design the service refuses keeps it and shows why.
async function fetchPreview({ query, started, message, mine }) {
  inFlight = true;
  const key = shapeKey();
  const px = pixels();
  const url = `/design.png?${query}&px=${px}`;
  const next = new Image();
  next.src = url;
  let failed = false;
  try {
    await next.decode();
  } catch (e) {
    failed = true;
  }
  if (failed && mine === serial) {
    try {
      const reply = await fetch(url);
      const body = await reply.json();
      if (mine === serial) {
        showErrors(body.errors || []);
        setStatus('设计有误，预览保持上一张：请按提示修改。', 'error');
      }
    } catch (e2) {
      if (mine === serial) setStatus('无法连接印章服务，请稍后再试。', 'error');
    }
  } else if (!failed && mine === serial) {
    next.id = 'design-preview';
    next.dataset.query = query;
    next.alt = `印章预览：${new URLSearchParams(query).get('t') || new URLSearchParams(query).get('ct') || '无文字'}`;
    next.style.width = `${Number(zoom.value)}%`;
    preview().replaceWith(next);
    // A seal taller than estimated came back narrower than shown: ask again at its true shape.
    const ratio = next.naturalHeight / next.naturalWidth;
    const wanted = Math.round(Math.min(2048, Math.max(64, shownWidth() * Math.max(1, ratio))));
    aspects.set(key, ratio);
    if (Math.abs(wanted - px) > 1 && !waiting) waiting = { query, started: 0, message, mine: ++serial };
    clearErrors();
    setStatus(message);
    afterPaint(() => {
      if (started) {
        const took = performance.now() - started;
        performance.measure('edit-to-preview', { start: started, end: performance.now() });
        (window.designTimings = window.designTimings || []).push(took);
      }
      document.documentElement.dataset.previewed = String(mine);
    });
  }
  inFlight = false;
  if (waiting) {
    const job = waiting;
    waiting = null;
    fetchPreview(job);
  }
}

function commit(query, { record = true, started = 0, message } = {}) {
  if (query === current) return;
  if (record && current) {
    undo.push(current);
    redo.length = 0;
  }
  current = query;
  history.replaceState(null, '', `?${query}`);
  $('undo').disabled = undo.length === 0;
  $('redo').disabled = redo.length === 0;
  updateLinks();
  show(query, started, message);
}

// Every edit asks for its preview at once: there is no wait for typing to pause, since the
// service draws a design in well under a millisecond and show() coalesces while one is in flight.
function edited(event) {
  if (event.target && event.target.classList && event.target.classList.contains('fonts')) updateWeights();
  commit(formToQuery(), { started: event.timeStamp || performance.now() });
}

function step(from, to) {
  if (!from.length) return;
  to.push(current);
  const query = from.pop();
  queryToForm(query);
  current = '';
  commit(query, { record: false });
}

function updateZoomText() {
  $('zoom-value').textContent = `${zoom.value}%`;
  zoom.setAttribute('aria-valuetext', `${zoom.value}%`);
}

async function importFile(file) {
  const text = await file.text();
  // The service checks it and answers the canonical design, or what is wrong.
  const reply = await fetch('/design.json', { method: 'POST', body: text, headers: { 'Content-Type': 'application/json' } });
  let body = null;
  try {
    body = await reply.json();
  } catch (e) {
    body = null;
  }
  if (!reply.ok) {
    showErrors((body && body.errors) || [{ field: 'design', zh: '文件不是有效的设计', en: 'not a design' }]);
    setStatus('导入失败：文件中的设计有误。', 'error');
    return;
  }
  queryToForm(jsonToQuery(body));
  commit(formToQuery(), { message: '已导入设计，预览已更新。' });
}

async function start() {
  buildLines();
  try {
    const reply = await fetch('/design/fonts.json');
    if (!reply.ok) throw new Error(`HTTP ${reply.status}`);
    catalogue = await reply.json();
  } catch (e) {
    setStatus('无法载入字体列表，请刷新页面重试。', 'error');
    return;
  }
  fillChoices();
  const params = new URLSearchParams(location.search);
  let query = location.search.slice(1);
  if (params.has('tpl')) {
    // "以此为模板设计": the template's look as a starting design.
    const reply = await fetch(`/design/template.json?id=${encodeURIComponent(params.get('tpl'))}` +
      `&text=${encodeURIComponent(params.get('text') || '')}`);
    query = reply.ok ? jsonToQuery(await reply.json()) : DEFAULT;
  }
  if (!query) query = DEFAULT;
  queryToForm(query);
  commit(formToQuery(), { record: false });
  form.addEventListener('input', edited);
  form.addEventListener('change', edited);
  form.addEventListener('submit', (e) => e.preventDefault());
  codeOn.addEventListener('change', edited);
  $('undo').addEventListener('click', () => step(undo, redo));
  $('redo').addEventListener('click', () => step(redo, undo));
  zoom.addEventListener('input', () => {
    updateZoomText();
    preview().style.width = `${zoom.value}%`;
    show(current, 0);
  });
  $('download-px').addEventListener('input', updateLinks);
  $('import-json').addEventListener('change', (e) => {
    const file = e.target.files && e.target.files[0];
    if (file) importFile(file).catch(() => setStatus('导入失败：无法读取文件。', 'error'));
    e.target.value = '';
  });
  // Ctrl+Z and Ctrl+Y (or Ctrl+Shift+Z) outside text boxes, which keep their own undo.
  document.addEventListener('keydown', (e) => {
    if (!(e.ctrlKey || e.metaKey)) return;
    const inText = e.target instanceof HTMLInputElement && e.target.type === 'text';
    if (inText) return;
    const k = e.key.toLowerCase();
    if (k === 'z' && !e.shiftKey) { e.preventDefault(); step(undo, redo); }
    if (k === 'y' || (k === 'z' && e.shiftKey)) { e.preventDefault(); step(redo, undo); }
  });
  document.documentElement.dataset.ready = '1';
}

start();
