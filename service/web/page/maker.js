// The stamp maker: picks a template from the service's catalogue (/templates.json), asks the
// service to render through /aosbegin.php as the desktop tool does, shows the picture and
// offers it for download in every format the service serves.
//
// Everything that came from a request or from the user reaches the page through textContent
// or attributes, never as markup.

const $ = (id) => document.getElementById(id);

const form = $('stamp-form');
const textInput = $('stamp-text');
const sizeInput = $('stamp-size');
const generateButton = $('generate');
const statusLine = $('status');
const previewCaption = $('preview-caption');
const downloads = $('downloads');
const search = $('search');
const galleryCount = $('gallery-count');
const galleryEmpty = $('gallery-empty');
const templatesBox = $('templates');

let catalogue = { formats: ['png'], templates: [] };
const byId = new Map();
const cards = [];  // { template, label, input, words }
let selected = null;
let serial = 0;  // the newest generation; older answers that arrive late are dropped

function setStatus(text, kind) {
  statusLine.textContent = text;
  statusLine.classList.toggle('error', kind === 'error');
}

// A file name that every system accepts, made from the stamp text.
function fileName(text, format) {
  const safe = text.trim().replace(/[\\/:*?"<>|\u0000-\u001f\u007f]/g, '_');
  // At most 100 characters, counted as characters so a pair of UTF-16 halves stays whole.
  const base = Array.from(safe).slice(0, 100).join('') || 'stamp';
  return `${base}.${format}`;
}

function selectTemplate(template) {
  selected = template;
  for (const card of cards) {
    const on = card.template === template;
    card.label.classList.toggle('selected', on);
    card.input.checked = on;
  }
  $('chosen-title').textContent = `${template.title}（${template.id}）`;
  $('capacity').textContent = `最多 ${template.capacity} 个字`;
  $('design-from').href = `/designer.html?tpl=${template.id}`;
}

function buildGallery() {
  const fragment = document.createDocumentFragment();
  for (const template of catalogue.templates) {
    byId.set(template.id, template);
    const label = document.createElement('label');
    label.className = 'tpl';
    const input = document.createElement('input');
    input.type = 'radio';
    input.name = 'template';
    input.value = String(template.id);
    const img = document.createElement('img');
    img.loading = 'lazy';
    img.decoding = 'async';
    img.alt = '';
    img.width = 128;
    img.height = 128;
    img.src = `/maker/thumbnails/${encodeURIComponent(template.thumbnail)}`;
    const title = document.createElement('span');
    title.className = 'tpl-title';
    title.textContent = template.title;
    const id = document.createElement('span');
    id.className = 'tpl-id';
    id.textContent = `编号 ${template.id}`;
    label.append(input, img, title, id);
    input.addEventListener('change', () => { if (input.checked) selectTemplate(template); });
    fragment.append(label);
    cards.push({ template, label, input, words: `${template.title} ${template.id}`.toLowerCase() });
  }
  templatesBox.replaceChildren(fragment);
}

function applySearch() {
  const words = search.value.toLowerCase().split(/\s+/).filter(Boolean);
  let shown = 0;
  for (const card of cards) {
    const match = words.every((w) => card.words.includes(w));
    card.label.hidden = !match;
    if (match) shown += 1;
  }
  const total = cards.length;
  galleryCount.textContent = words.length ? `找到 ${shown} 个模板（共 ${total} 个）` : `共 ${total} 个模板`;
  galleryEmpty.hidden = shown !== 0;
}

// The first screen of thumbnails is there when every thumbnail inside the viewport has loaded
// (or failed) and been painted; the mark feeds the benchmark.
function markFirstScreen() {
  const inView = cards
    .map((c) => c.label.querySelector('img'))
    .filter((img) => {
      const r = img.getBoundingClientRect();
      return r.bottom > 0 && r.top < window.innerHeight && r.width > 0;
    });
  const pending = inView.map((img) => (img.complete ? Promise.resolve()
    : new Promise((done) => {
      img.addEventListener('load', done, { once: true });
      img.addEventListener('error', done, { once: true });
    })));
  Promise.all(pending).then(() => afterPaint(() => {
    performance.mark('first-thumbnails');
    document.documentElement.dataset.firstThumbnails = String(inView.length);
  }));
}

function afterPaint(callback) {
  requestAnimationFrame(() => setTimeout(callback, 0));
}

// The service answers XML: <outputimg> with the picture path, or <error> with its reason.
function readReply(status, body) {
  const doc = new DOMParser().parseFromString(body, 'application/xml');
  const picture = doc.querySelector('outputimg');
  if (status === 200 && picture && picture.textContent.trim()) return { path: picture.textContent.trim() };
  const error = doc.querySelector('error');
  if (error) return { error: error.textContent.trim() };
  return { error: body.trim().slice(0, 300) || `HTTP ${status}` };
}

function showPicture(url, text, template) {
  const picture = new URL(url, location.href);
  downloads.replaceChildren();
  for (const format of catalogue.formats) {
    const link = document.createElement('a');
    link.className = 'button';
    link.href = picture.pathname.replace(/\.png$/, `.${format}`);
    link.download = fileName(text, format);
    link.dataset.format = format;
    link.textContent = `下载 ${format.toUpperCase()}`;
    downloads.append(link);
  }
  downloads.hidden = false;
  previewCaption.textContent = `“${text.trim()}”，模板 ${template.id}：${template.title}`;
}

// started: when the user asked (the submit event's time stamp), for the benchmark's measure.
async function generate(started) {
  const mine = ++serial;
  const checked = templatesBox.querySelector('input[name="template"]:checked');
  const id = checked ? checked.value : (selected ? String(selected.id) : '');
  const template = byId.get(Number(id)) || { id, title: '', capacity: 0 };
  const text = textInput.value;
  const size = sizeInput.value.trim() || '0';
  const query = `text=${encodeURIComponent(text)}&id=${encodeURIComponent(id)}` +
    `&signsize=${encodeURIComponent(size)}&rnd=${Math.random()}`;
  setStatus('正在生成…');
  generateButton.disabled = true;
  try {
    const reply = await fetch(`/aosbegin.php?${query}`, { cache: 'no-store' });
    const answer = readReply(reply.status, await reply.text());
    if (mine !== serial) return;
    if (answer.error) {
      setStatus(`生成失败：${answer.error}`, 'error');
      return;
    }
    // The new picture replaces the old one only once it is decoded: a failure keeps the last
    // good preview, and the swap itself draws at once.
    const next = new Image();
    next.src = new URL(answer.path, location.href).href;
    await next.decode();
    if (mine !== serial) return;
    next.id = 'preview';
    next.alt = `印章预览：${text.trim()}`;
    $('preview').replaceWith(next);
    showPicture(answer.path, text, template);
    setStatus('已生成。');
    afterPaint(() => {
      performance.measure('enter-to-preview', { start: started, end: performance.now() });
    });
  } catch (e) {
    if (mine === serial) setStatus('生成失败：无法连接印章服务，请稍后再试。', 'error');
  } finally {
    if (mine === serial) generateButton.disabled = false;
  }
}

// The designer opens with the chosen template's look and the text typed so far.
$('design-from').addEventListener('click', () => {
  if (selected) $('design-from').href = `/designer.html?tpl=${selected.id}&text=${encodeURIComponent(textInput.value.trim())}`;
});
form.addEventListener('submit', (event) => {
  event.preventDefault();
  generate(event.timeStamp);
});
search.addEventListener('input', applySearch);
// Enter in the search box chooses the first match and moves on to the text, so the keyboard
// path is: search words, Enter, stamp text, Enter.
search.addEventListener('keydown', (event) => {
  if (event.key !== 'Enter') return;
  event.preventDefault();
  const first = cards.find((c) => !c.label.hidden);
  if (first) {
    selectTemplate(first.template);
    textInput.focus();
  }
});
// Enter on a card in the gallery (arrow keys move between cards) also moves on to the text.
templatesBox.addEventListener('keydown', (event) => {
  if (event.key !== 'Enter' || !(event.target instanceof HTMLInputElement)) return;
  event.preventDefault();
  textInput.focus();
});

async function start() {
  try {
    const reply = await fetch('/templates.json');
    if (!reply.ok) throw new Error(`HTTP ${reply.status}`);
    catalogue = await reply.json();
  } catch (e) {
    $('chosen-title').textContent = '无法载入模板目录';
    setStatus('无法载入模板目录，请刷新页面重试。', 'error');
    return;
  }
  buildGallery();
  applySearch();
  if (catalogue.templates.length) selectTemplate(catalogue.templates[0]);
  document.documentElement.dataset.ready = '1';
  markFirstScreen();
}

start();
